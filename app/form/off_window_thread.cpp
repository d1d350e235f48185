#include "app/form/off_window_thread.h"

#include <exception>
#include <future>
#include <thread>

namespace offline_upgrade {

void RunOffWindowThread(IWindowFacilities &window, const std::function<void()> &work)
{
    std::packaged_task<void()> task(work);
    std::future<void> done = task.get_future();
    std::thread worker(std::move(task));
    try {
        while (done.wait_for(kOffThreadPumpInterval) != std::future_status::ready)
            window.ProcessMessages();
    } catch (...) {
        // A handler that throws from the pump must not leave the thread running unjoined;
        // the work still ends before the error goes on.
        worker.join();
        throw;
    }
    worker.join();
    done.get();
}

} // namespace offline_upgrade
