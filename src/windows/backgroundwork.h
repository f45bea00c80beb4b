#pragma once

#include <QMetaObject>
#include <QObject>

#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace vexal {

// Runs blocking work (a name lookup, reading a registry of megabytes) on a
// thread of its own and hands its result to the owner on the owner's thread.
// The thread is detached rather than pooled: a reverse lookup may wait
// seconds for a DNS server that does not answer, and neither the window nor
// the end of the program may wait with it (the global pool is joined when
// the application object goes). A result that comes back after its owner is
// gone is dropped.
class BackgroundWork final
{
public:
    explicit BackgroundWork(QObject *owner) : m_shared(std::make_shared<Shared>(owner)) {}
    ~BackgroundWork()
    {
        // Once this returns no worker posts to the owner; what was posted
        // before goes with the owner's pending events.
        const std::lock_guard lock(m_shared->mutex);
        m_shared->owner = nullptr;
    }
    BackgroundWork(const BackgroundWork &) = delete;
    BackgroundWork &operator=(const BackgroundWork &) = delete;

    // work() runs on the new thread; deliver(result) later on the owner's
    // thread, from its event loop, never inside this call. When no thread
    // can be started, deliver gets a default result, as for work that
    // found nothing.
    template<typename Work, typename Deliver>
    void run(Work work, Deliver deliver)
    {
        using Result = decltype(work());
        auto post = [shared = m_shared, deliver](Result result) {
            const std::lock_guard lock(shared->mutex);
            if (shared->owner)
                QMetaObject::invokeMethod(
                    shared->owner, [deliver, result = std::move(result)] { deliver(result); },
                    Qt::QueuedConnection);
        };
        try {
            std::thread([work = std::move(work), post] { post(work()); }).detach();
        } catch (const std::system_error &) {
            post(Result{});
        }
    }

private:
    struct Shared
    {
        explicit Shared(QObject *o) : owner(o) {}
        std::mutex mutex;
        QObject *owner;
    };
    std::shared_ptr<Shared> m_shared;
};

} // namespace vexal
