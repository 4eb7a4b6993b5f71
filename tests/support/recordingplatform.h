#pragma once

#include "platform.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <deque>
#include <functional>

// The outside world as tests see it: records every message, error, URL, program, sound
// and notification, and answers confirmations from a script (then from defaultAnswer).
// Installs itself for its lifetime. Every box runs a nested event loop while it is open, as a
// real modal box does: by default it is dismissed as soon as the events already waiting
// are handled; with boxOpenUntil it stays open until that holds (or boxTimeoutMs passes).
class RecordingPlatform final : public platform::Platform
{
public:
    struct Program
    {
        QString program;
        QStringList arguments;
        QString workingDirectory;
    };
    struct Notification
    {
        QString summary;
        QString body;
        std::function<void()> onClick;
    };

    RecordingPlatform() { m_previous = install(this); }
    ~RecordingPlatform() override { install(m_previous); }

    void messageBox(const QString &text, const QString &) override
    {
        messages << text;
        runBox();
    }
    bool confirm(const QString &text, const QString &) override
    {
        questions << text;
        runBox();
        if (answers.empty())
            return defaultAnswer;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void showError(const QString &text) override
    {
        errors << text;
        runBox();
    }
    bool openUrl(const QUrl &url) override
    {
        urls << url;
        return true;
    }
    bool startProgram(const QString &program, const QStringList &arguments,
                      const QString &workingDirectory) override
    {
        programs.push_back({program, arguments, workingDirectory});
        return startResult;
    }
    void playSound(const QString &name) override { sounds << name; }
    bool gameRunning() override { return gameIsRunning; }
    void notify(const QString &summary, const QString &body,
                const std::function<void()> &onClick) override
    {
        notifications.push_back({summary, body, onClick});
    }
    void requestAttention() override { ++attentionRequests; }

    QStringList messages;
    QStringList questions;
    QStringList errors;
    QList<QUrl> urls;
    std::vector<Program> programs;
    QStringList sounds;
    std::vector<Notification> notifications;
    int attentionRequests = 0;
    std::deque<bool> answers;
    bool defaultAnswer = false;
    bool startResult = true;
    bool gameIsRunning = false;
    std::function<bool()> boxOpenUntil;
    int boxTimeoutMs = 5000;
    // Boxes open right now, and the deepest nesting seen.
    int openBoxes = 0;
    int deepestBoxes = 0;

private:
    void runBox()
    {
        ++openBoxes;
        deepestBoxes = std::max(deepestBoxes, openBoxes);
        QEventLoop loop;
        QElapsedTimer clock;
        clock.start();
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (!boxOpenUntil || boxOpenUntil() || clock.elapsed() >= boxTimeoutMs)
                loop.quit();
        });
        poll.start(boxOpenUntil ? 5 : 0);
        loop.exec();
        --openBoxes;
    }

    platform::Platform *m_previous = nullptr;
};
