#pragma once

#include "platform.h"

#include <QStringList>
#include <QUrl>

#include <deque>

// The outside world as tests see it: records every message, error, URL, program and
// sound, and answers confirmations from a script (then from defaultAnswer). Installs
// itself for its lifetime.
class RecordingPlatform final : public platform::Platform
{
public:
    struct Program
    {
        QString program;
        QStringList arguments;
        QString workingDirectory;
    };

    RecordingPlatform() { m_previous = install(this); }
    ~RecordingPlatform() override { install(m_previous); }

    void messageBox(const QString &text, const QString &) override { messages << text; }
    bool confirm(const QString &text, const QString &) override
    {
        questions << text;
        if (answers.empty())
            return defaultAnswer;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void showError(const QString &text) override { errors << text; }
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

    QStringList messages;
    QStringList questions;
    QStringList errors;
    QList<QUrl> urls;
    std::vector<Program> programs;
    QStringList sounds;
    std::deque<bool> answers;
    bool defaultAnswer = false;
    bool startResult = true;
    bool gameIsRunning = false;

private:
    platform::Platform *m_previous = nullptr;
};
