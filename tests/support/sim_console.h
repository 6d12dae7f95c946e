#pragma once

// A practice server and a console logged in to it, whose sends count the
// commands owed at once: a test of anything that speaks to a server one
// command at a time checks `mostOwed` stays 1.

#include "session/console_session.h"
#include "sim_server.h"
#include "support/wait.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

struct SimConsole
{
    explicit SimConsole(RconSimOptions options = {})
        : server(std::make_unique<RconSimServer>(options))
    {
        EXPECT_TRUE(server->listen());
        session.setPasswordSource([] { return QByteArray("secret"); });
        QObject::connect(&session, &ConsoleSession::loggedIn, [this] { loggedIn = true; });
        session.connectToServer("127.0.0.1", QByteArray::number(server->port()));
        EXPECT_TRUE(WaitUntil([this] { return loggedIn; }, std::chrono::seconds(10)));
    }

    CommandReply* send(const QByteArray& command)
    {
        CommandReply* reply = session.sendCommand(command);
        if (reply) {
            mostOwed = std::max(mostOwed, ++owed);
            QObject::connect(reply, &CommandReply::finished, [this] { --owed; });
        }
        return reply;
    }

    std::unique_ptr<RconSimServer> server;
    ConsoleSession session;
    bool loggedIn = false;
    int owed = 0;
    int mostOwed = 0;
};
