#include "app/pictures.h"

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

// The resources live in a static library; nothing would pull their registration into the
// program unless it is called by name. Outside any namespace, as the macro declares a global.
static void RegisterResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    (void)registered;
}

namespace offline_upgrade {

namespace {

// Renders the SVG with Qt SVG directly, so that no image-format plugin is needed at run time.
QImage Render(const QString &resource, int width, int height, QImage::Format format)
{
    RegisterResources();
    QImage image(width, height, format);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    QPainter painter(&image);
    renderer.render(&painter, QRectF(0, 0, width, height));
    return image;
}

} // namespace

QIcon ApplicationIcon()
{
    return QIcon(QPixmap::fromImage(
        Render(":/pictures/gear.svg", 32, 32, QImage::Format_ARGB32_Premultiplied)));
}

QPixmap GlobePicture()
{
    // The ground covers the whole picture; no transparency is wanted.
    return QPixmap::fromImage(Render(":/pictures/globe.svg", 96, 240, QImage::Format_RGB32));
}

QIcon UpdateButtonIcon()
{
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(Render(":/pictures/arrow_up.svg", 16, 16,
                                             QImage::Format_ARGB32_Premultiplied)),
                   QIcon::Normal);
    icon.addPixmap(QPixmap::fromImage(Render(":/pictures/arrow_up_disabled.svg", 16, 16,
                                             QImage::Format_ARGB32_Premultiplied)),
                   QIcon::Disabled);
    return icon;
}

} // namespace offline_upgrade
