#pragma once
// The Windows resources of the program, made at build time from the pictures in app/pictures.
#define KX_ICON_GEAR 1
#define KX_ICON_ARROW 2
#define KX_ICON_ARROW_DISABLED 3
#define KX_BITMAP_GLOBE 10
