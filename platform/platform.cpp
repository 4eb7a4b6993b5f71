#include "platform.h"

#include <cstdio>

namespace platform {

namespace {

class FallbackPlatform final : public Platform
{
public:
    void messageBox(const QString &text, const QString &) override { print("message", text); }
    bool confirm(const QString &text, const QString &) override
    {
        print("question (answered No)", text);
        return false;
    }
    void showError(const QString &text) override { print("error", text); }
    bool openUrl(const QUrl &) override { return false; }
    bool startProgram(const QString &, const QStringList &, const QString &) override
    {
        return false;
    }
    void playSound(const QString &) override {}
    bool gameRunning() override { return false; }
    void notify(const QString &summary, const QString &body, const std::function<void()> &) override
    {
        print("notification", summary + QStringLiteral(": ") + body);
    }

private:
    static void print(const char *kind, const QString &text)
    {
        std::fprintf(stderr, "%s: %s\n", kind, text.toLocal8Bit().constData());
    }
};

FallbackPlatform g_fallback;
Platform *g_current = nullptr;

} // namespace

Platform::~Platform() = default;

Platform &Platform::instance()
{
    return g_current ? *g_current : g_fallback;
}

Platform *Platform::install(Platform *p)
{
    Platform *previous = g_current;
    g_current = p;
    return previous;
}

} // namespace platform
