#include "tgamedescription.h"
#include "accessibility.h"

#include "ehttpexception.h"
#include "tflatbutton.h"
#include "thtmllite.h"
#include "thttpcli.h"
#include "turl.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QUrl>
#include <QUrlQuery>
#include <QVBoxLayout>

#include <algorithm>

Tgamedescription::Tgamedescription(QWidget *parent)
    : QDialog(parent), gethtml(new THttpCli(this)), URL1(new TURL(this))
{
    setObjectName(QStringLiteral("gamedescription"));
    setWindowTitle(QStringLiteral("Ostrel Lobby Game Description"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(false);
    gethtml->setObjectName(QStringLiteral("gethtml"));
    URL1->setObjectName(QStringLiteral("URL1"));
    URL1->setURLType(utnone);

    label_gamename = new QLabel(this);
    label_gamename->setObjectName(QStringLiteral("label_gamename"));
    // The room name comes from the catalogue: never markup.
    label_gamename->setTextFormat(Qt::PlainText);
    QFont title = label_gamename->font();
    title.setBold(true);
    title.setPointSizeF(title.pointSizeF() * 1.4);
    label_gamename->setFont(title);

    displayhtml = new ThtmlLite(this);
    displayhtml->setObjectName(QStringLiteral("displayhtml"));
    QFont text = displayhtml->font();
    text.setFamilies({QStringLiteral("Times New Roman"), QStringLiteral("DejaVu Serif"),
                      QStringLiteral("serif")});
    text.setPointSize(10);
    displayhtml->setFont(text);
    QPalette colours = displayhtml->palette();
    colours.setColor(QPalette::Base, Qt::white);
    colours.setColor(QPalette::Text, Qt::black);
    colours.setColor(QPalette::LinkVisited, Qt::gray);
    displayhtml->setPalette(colours);
    displayhtml->OnImageRequest = [this](QObject *sender, const QString &src, QIODevice *&stream) {
        displayhtmlImageRequest(sender, src, stream);
    };
    displayhtml->OnHotSpotClick = [this](QObject *sender, const QString &src, bool &handled) {
        displayhtmlHotSpotClick(sender, src, handled);
    };

    FlatButton1 = new TFlatButton(QStringLiteral("&Close"), this);
    FlatButton1->setObjectName(QStringLiteral("FlatButton1"));
    connect(FlatButton1, &QPushButton::clicked, this, &Tgamedescription::FlatButton1Click);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(FlatButton1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(8);
    layout->addWidget(label_gamename);
    layout->addWidget(displayhtml, 1);
    layout->addLayout(buttons);
    resize(640, 560);
    FormCreate();
    accessibility::nameControls(this, {{"displayhtml", "Game description"}});
}

void Tgamedescription::FormCreate()
{
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
}

void Tgamedescription::FlatButton1Click()
{
    close();
}

bool Tgamedescription::busy() const
{
    return gethtml->Busy();
}

void Tgamedescription::stop()
{
    m_pending.clear();
    gethtml->Abort();
}

void Tgamedescription::loadit(const QString &game)
{
    // The name is one path segment of the site, whatever the catalogue holds.
    const QString segment = QString::fromLatin1(QUrl::toPercentEncoding(game));
    QIODevice *stream =
        GetStream(m_siteRoot + segment + QLatin1Char('/') + segment + QStringLiteral(".htm"));
    // Only now: the page shown so far keeps its root, and its pictures still to come
    // their addresses, when the new page cannot be had.
    displayhtml->ServerRoot = m_siteRoot + segment;
    showPage(stream);
}

void Tgamedescription::geturl(const QString &url)
{
    showPage(GetStream(url));
}

void Tgamedescription::showPage(QIODevice *stream)
{
    // The pictures of the page shown before are of no use any more.
    m_pending.clear();
    ++m_page;
    m_pictureBytes = 0;
    displayhtml->LoadFromStream(stream);
}

QIODevice *Tgamedescription::GetStream(const QString &url, qint64 maxBytes)
{
    // The one buffer serves one transfer at a time: a call made while a transfer runs
    // (from the event loop that the transfer keeps running) must not empty it.
    if (gethtml->Busy())
        throw EHttpException(QStringLiteral("A transfer is already running."),
                             EHttpException::Busy);
    m_stream.close();
    m_stream.setData(QByteArray());
    m_stream.open(QIODevice::ReadWrite);
    gethtml->setURL(url);
    gethtml->RcvdStream = &m_stream;
    gethtml->MaxBodyBytes = maxBytes;
    const auto ended = qScopeGuard([this] {
        gethtml->RcvdStream = nullptr;
        if (m_pictureDeferred) {
            m_pictureDeferred = false;
            postPicture();
        }
    });
    gethtml->Get();
    m_stream.seek(0);
    return &m_stream;
}

void Tgamedescription::displayhtmlImageRequest(QObject *, const QString &src, QIODevice *&stream)
{
    stream = ThtmlLite::WaitStream();
    m_pending.append(src);
    if (m_pending.size() == 1)
        postPicture();
}

void Tgamedescription::postPicture()
{
    QMetaObject::invokeMethod(this, &Tgamedescription::getpicture, Qt::QueuedConnection);
}

void Tgamedescription::getpicture()
{
    if (m_pending.isEmpty())
        return;
    if (gethtml->Busy()) {
        m_pictureDeferred = true;
        return;
    }
    const QString src = m_pending.takeFirst();
    const quint64 page = m_page;
    const qint64 allowed =
        std::min<qint64>(ThtmlLite::kMaxPictureBytes, kMaxPagePictureBytes - m_pictureBytes);
    if (allowed <= 0) {
        // The page's pictures have taken what they may: the rest stay missing.
        m_pending.clear();
        return;
    }
    const QString url = absoluteUrl(src, displayhtml->ServerRoot);
    try {
        QIODevice *stream = GetStream(url, allowed);
        const QByteArray data = stream->readAll();
        if (page == m_page) {
            m_pictureBytes += data.size();
            displayhtml->InsertImage(src, data);
            // Other sources of the page that name the same address are not fetched again.
            for (qsizetype i = m_pending.size() - 1; i >= 0; --i) {
                if (absoluteUrl(m_pending[i], displayhtml->ServerRoot) == url)
                    displayhtml->InsertImage(m_pending.takeAt(i), data);
            }
        }
    } catch (const EHttpException &) {
        // The picture stays missing; the page and the pictures after it are unaffected.
    }
    if (!m_pending.isEmpty())
        postPicture();
}

void Tgamedescription::displayhtmlHotSpotClick(QObject *, const QString &src, bool &)
{
    if (src.startsWith(QLatin1Char('#'))) {
        displayhtml->scrollToAnchor(src.mid(1));
        return;
    }
    const QString address = linkAddress(src, displayhtml->ServerRoot);
    if (address.isEmpty())
        return;
    URL1->setURL(address);
    URL1->Execute();
}

QString Tgamedescription::absoluteUrl(const QString &src, const QString &serverRoot)
{
    if (src.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
        src.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return src;
    QString url = src.startsWith(QLatin1Char('/')) ? src : QLatin1Char('/') + src;
    if (!url.contains(QLatin1String("HTTP")))
        url = serverRoot + url;
    return url;
}

namespace {

// A mail link keeps its address and subject only: other fields (attachments, copies, a
// prepared body) are the page's, not the user's, to choose.
QString mailAddress(const QString &src)
{
    const QUrl link(src);
    const QString address = link.path(QUrl::FullyEncoded);
    if (!link.isValid() || address.isEmpty())
        return QString();
    QString out = QStringLiteral("mailto:") + address;
    const QUrlQuery query(link);
    for (const auto &item : query.queryItems(QUrl::FullyEncoded)) {
        if (item.first.compare(QLatin1String("subject"), Qt::CaseInsensitive) == 0) {
            out += QStringLiteral("?subject=") + item.second;
            break;
        }
    }
    return out;
}

} // namespace

QString Tgamedescription::linkAddress(const QString &src, const QString &serverRoot)
{
    // Only web pages and mail addresses are handed to the desktop: a page from the
    // network must not open local files or programs through a link.
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*):"));
    const QRegularExpressionMatch match = scheme.match(src);
    if (match.hasMatch()) {
        const QString name = match.captured(1).toLower();
        if (name == QLatin1String("mailto"))
            return mailAddress(src);
        if (name != QLatin1String("http") && name != QLatin1String("https"))
            return QString();
    }
    const QString url = absoluteUrl(src, serverRoot);
    const QString final = QUrl(url).scheme().toLower();
    if (final != QLatin1String("http") && final != QLatin1String("https"))
        return QString();
    return url;
}
