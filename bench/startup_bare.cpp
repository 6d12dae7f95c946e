// The yardstick for start-up: the barest program with a main window of tabs,
// built with the same flags as the program, measured the same way.

#include "startup_measure.h"

#include <QApplication>
#include <QMainWindow>
#include <QTabWidget>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QMainWindow window;
    auto* pages = new QTabWidget(&window);
    for (const char* title : {"Player List", "Ban List", "Maps", "Announcements", "Other"})
        pages->addTab(new QWidget(pages), QString::fromLatin1(title));
    window.setCentralWidget(pages);
    window.resize(791, 556);
    return showAndMeasure(window);
}
