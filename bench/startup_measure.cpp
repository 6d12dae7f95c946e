// Shows the window and measures start-up; see startup_measure.h.

#include "startup_measure.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <time.h>
#include <unistd.h>

namespace {

// Notes the first paint of any widget of `window`.
class FirstPaint : public QObject
{
public:
    explicit FirstPaint(QWidget* window)
        : window_(window)
    { }

    bool painted = false;

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && object->isWidgetType()
            && static_cast<QWidget*>(object)->window() == window_)
            painted = true;
        return false;
    }

private:
    QWidget* window_;
};

double seconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The process's start in seconds since boot: field 22 of /proc/self/stat, in
// clock ticks. The name in field 2 may hold blanks, so fields are counted after
// its closing parenthesis.
double processStartSinceBoot()
{
    std::ifstream file("/proc/self/stat");
    const std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int number = 3; number <= 22 && fields >> field; ++number) { }
    return std::stod(field) / double(sysconf(_SC_CLK_TCK));
}

// VmRSS of /proc/self/status, in kB.
long residentMemoryKiB()
{
    std::ifstream file("/proc/self/status");
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

} // namespace

int showAndMeasure(QWidget& window)
{
    FirstPaint firstPaint(&window);
    QCoreApplication::instance()->installEventFilter(&firstPaint);
    window.show();

    QTimer wake; // so the loop below never sleeps past a change no event announces
    wake.start(5);
    const double giveUp = seconds(CLOCK_MONOTONIC) + 10;
    while (!(window.windowHandle() && window.windowHandle()->isExposed() && firstPaint.painted)) {
        if (seconds(CLOCK_MONOTONIC) > giveUp) {
            std::fprintf(stderr, "the main window was never shown\n");
            return 1;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    const double shownSinceBoot = seconds(CLOCK_BOOTTIME);
    const double shownRealtime = seconds(CLOCK_REALTIME);
    const long residentKiB = residentMemoryKiB();

    std::printf("startup_ms %.3f\n", (shownSinceBoot - processStartSinceBoot()) * 1000);
    std::printf("shown_realtime %.6f\n", shownRealtime);
    std::printf("rss_kib %ld\n", residentKiB);
    std::printf("qt_version %s\n", qVersion());
    return 0;
}
