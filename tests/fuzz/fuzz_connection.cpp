// The client's receive path on arbitrary bytes from the server: a real connection object
// frames, unscrambles and dispatches them to handlers like the lobby's, some of which
// open a box that runs the event loop (as a real box does), so lines also arrive inside
// nested loops.
#include "encryptit.h"
#include "platform.h"
#include "torvexconnection.h"

#include <QCoreApplication>

#include <cstdlib>
#include <string_view>

namespace {

// The outside world: boxes run the event loop once, as a box the user closes at once.
class FuzzPlatform final : public platform::Platform
{
public:
    void messageBox(const QString &, const QString &) override { spin(); }
    bool confirm(const QString &, const QString &) override
    {
        spin();
        return false;
    }
    void showError(const QString &) override {}
    bool openUrl(const QUrl &) override { return false; }
    bool startProgram(const QString &, const QStringList &, const QString &) override
    {
        return false;
    }
    void playSound(const QString &) override {}
    bool gameRunning() override { return false; }
    void notify(const QString &, const QString &, const std::function<void()> &) override {}
    int depth = 0;

private:
    void spin()
    {
        ++depth;
        QCoreApplication::processEvents();
        --depth;
    }
};

FuzzPlatform *seam = nullptr;
TOrvexConnection *connection = nullptr;
long raised = 0;

void wire(TOrvexConnection &c)
{
    auto scramble = [](QObject *, QByteArray &line) {
        ostrel::ScrambleInPlace(line.data(), static_cast<std::size_t>(line.size()),
                                ostrel::kWireKey);
    };
    c.OnDecryptString = scramble;
    c.OnEncryptString = scramble;
    auto text = [](QObject *, const QByteArray &) { ++raised; };
    auto from = [](QObject *, const QByteArray &, const QByteArray &) { ++raised; };
    // A handler that opens a box, as the announcements and server errors do.
    auto box = [](QObject *, const QByteArray &t) {
        if (seam->depth > TOrvexConnection::kMaxNestedReads + 1)
            std::abort();
        platform::Platform::instance().messageBox(QString::fromLatin1(t.left(64)));
    };
    c.OnShout = box;
    c.OnServerError = box;
    for (auto *e : {&c.OnAddSubject, &c.OnAddUser, &c.OnAddGame, &c.OnDeletegame, &c.OnJoinSubject,
                    &c.OnLoginFailed, &c.OnRemoveSubject, &c.OnGRemoveUser, &c.OnRenamedUser,
                    &c.OnNewSuccess, &c.OnRemoveUser, &c.OnNews, &c.OnGames})
        *e = text;
    for (auto *e : {&c.OnChatReceived, &c.OnGhatReceived, &c.OnPmesReceived, &c.OnDatasendReceived,
                    &c.OnInviteReceived, &c.OnIPTJReceived, &c.OnIGNOReceived, &c.OnJOINReceived})
        *e = from;
    c.OnLoginSuccess = [](QObject *, ostrel::TOrvexUser *user) {
        if (!user)
            std::abort();
        ++raised;
    };
    c.OnUserInfo = c.OnLoginSuccess;
    c.OnServerStatus = [](QObject *, ostrel::TOrvexServerStats *stats) {
        if (!stats)
            std::abort();
        ++raised;
    };
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    seam = new FuzzPlatform;
    platform::Platform::install(seam);
    connection = new TOrvexConnection;
    wire(*connection);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    // Uneven pieces, so that lines are cut at every possible place.
    std::size_t at = 0;
    std::size_t piece = 1;
    while (at < input.size()) {
        const std::size_t n = std::min(piece, input.size() - at);
        connection->receiveChunk(input.data() + at, static_cast<qsizetype>(n));
        at += n;
        piece = piece * 5 % 23 + 1;
    }
    // Whatever was left for the event loop (lines carried on after a box) runs now; a
    // trailing unfinished line is dropped before the next input.
    QCoreApplication::processEvents();
    connection->receiveChunk("\n", 1);
    QCoreApplication::processEvents();
    return 0;
}
