#pragma once

// What the program asks of the desktop beyond its own windows: to open a
// folder in the file manager, and to show a notification. Tests install a
// double that records the requests.

#include <QString>

class Desktop
{
public:
    virtual ~Desktop() = default;

    // Opens `path` in the user's file manager; false when nothing could.
    virtual bool openFolder(const QString& path) = 0;
    // A notification through the desktop's notification service, where one
    // runs; nothing otherwise. It never waits for the service.
    virtual void notify(const QString& summary, const QString& body) = 0;
};

class SystemDesktop : public Desktop
{
public:
    bool openFolder(const QString& path) override;
    void notify(const QString& summary, const QString& body) override;
};
