// Shows that ThreadSanitizer reports races on correctly locked data once QProcess has
// started a child, and not when the child is started with fork and exec. Not a test of
// the program: it explains why the tests and the benchmark start their children with
// fork and exec. Build it in a ThreadSanitizer tree and run it three ways:
//
//   cmake --build build-tsan --target tsan_qprocess_child
//   QT_QPA_PLATFORM=offscreen build-tsan/tests/tsan/tsan_qprocess_child none      # no report
//   QT_QPA_PLATFORM=offscreen build-tsan/tests/tsan/tsan_qprocess_child fork      # no report
//   QT_QPA_PLATFORM=offscreen build-tsan/tests/tsan/tsan_qprocess_child qprocess  # "data race"
//
// A thread queues numbers under a mutex and wakes the user-interface thread through an
// eventfd; that thread takes them under the same mutex. QProcess (Qt 6.4) starts its child
// with a raw clone(CLONE_VM | CLONE_VFORK), which the sanitizer does not intercept: until
// the exec the child shares this process's memory, sanitizer state included, and runs
// intercepted calls on it (sigaction, dup2, close). Afterwards the main thread's locking
// no longer counts as ordering in the sanitizer's eyes; a fork it sees leaves it intact.

#include <QCoreApplication>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const char* how = argc > 1 ? argv[1] : "none";
    QProcess process;
    pid_t forked = -1;
    if (!std::strcmp(how, "qprocess")) {
        process.start(QStringLiteral("/bin/sleep"), {QStringLiteral("10")});
        process.waitForStarted();
    } else if (!std::strcmp(how, "fork")) {
        forked = fork();
        if (forked == 0) {
            execl("/bin/sleep", "sleep", "10", static_cast<char*>(nullptr));
            _exit(127);
        }
    }

    std::mutex lock;
    std::deque<int> items; // only ever touched under lock
    const int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    QSocketNotifier notifier(wake, QSocketNotifier::Read);
    int taken = 0;
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        uint64_t value;
        (void)!read(wake, &value, sizeof value);
        std::lock_guard guard(lock);
        for (; !items.empty(); items.pop_front())
            ++taken;
    });
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        for (int i = 0; i < 2000 && !stop; ++i) {
            {
                std::lock_guard guard(lock);
                items.push_back(i);
            }
            const uint64_t one = 1;
            (void)!write(wake, &one, sizeof one);
            usleep(500);
        }
    });
    QTimer::singleShot(2000, &app, &QCoreApplication::quit);
    app.exec();
    stop = true;
    producer.join();
    if (forked > 0) {
        kill(forked, SIGKILL);
        waitpid(forked, nullptr, 0);
    }
    process.kill();
    process.waitForFinished();
    std::printf("%s: %d taken\n", how, taken);
    return 0;
}
