// The client's receive path on arbitrary bytes from the server: a real connection object
// frames, unscrambles and dispatches them to handlers like the lobby's, some of which
// open a box that runs the event loop (as a real box does), so lines also arrive inside
// nested loops.
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
    using C = TOrvexConnection;
    auto text = [](const QByteArray &) { ++raised; };
    auto from = [](const QByteArray &, const QByteArray &) { ++raised; };
    // A handler that opens a box, as the announcements and server errors do.
    auto box = [](const QByteArray &t) {
        if (seam->depth > TOrvexConnection::kMaxNestedReads + 1)
            std::abort();
        platform::Platform::instance().messageBox(QString::fromLatin1(t.left(64)));
    };
    QObject::connect(&c, &C::OnShout, box);
    QObject::connect(&c, &C::OnServerError, box);
    for (auto e : {&C::OnAddSubject, &C::OnAddUser, &C::OnAddGame, &C::OnDeletegame,
                   &C::OnJoinSubject, &C::OnLoginFailed, &C::OnRemoveSubject, &C::OnGRemoveUser,
                   &C::OnRenamedUser, &C::OnNewSuccess, &C::OnRemoveUser, &C::OnNews, &C::OnGames})
        QObject::connect(&c, e, text);
    for (auto e :
         {&C::OnChatReceived, &C::OnGhatReceived, &C::OnPmesReceived, &C::OnDatasendReceived,
          &C::OnInviteReceived, &C::OnIPTJReceived, &C::OnIGNOReceived, &C::OnJOINReceived})
        QObject::connect(&c, e, from);
    auto user = [](ostrel::TOrvexUser *user) {
        if (!user)
            std::abort();
        ++raised;
    };
    QObject::connect(&c, &C::OnLoginSuccess, user);
    QObject::connect(&c, &C::OnUserInfo, user);
    QObject::connect(&c, &C::OnServerStatus, [](ostrel::TOrvexServerStats *stats) {
        if (!stats)
            std::abort();
        ++raised;
    });
    // Reports go to the error display, as the lobby sends them.
    QObject::connect(&c, &C::OnLineError,
                     [](const QString &m) { platform::Platform::instance().showError(m); });
    QObject::connect(&c, &C::OnSocketError, [](int, const QString &m, const QString &) {
        platform::Platform::instance().messageBox(m);
    });
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
