#pragma once

#include <QObject>
#include <QString>

// The schemes TURL can put in front of its address, in their published order.
enum TURLType {
    utFile,
    utFtp,
    utGopher,
    utHttp,
    utHttps,
    utMailto,
    utNews,
    utTelnet,
    utWais,
    utnone
};

// Opens an address with the user's default handler (browser, mail program) through the
// platform seam. The address is URL with the prefix of URLType in front; utnone takes
// URL as it stands.
class TURL : public QObject
{
    Q_OBJECT
public:
    explicit TURL(QObject *parent = nullptr);

    const QString &URL() const { return m_url; }
    void setURL(const QString &url);
    TURLType URLType() const { return m_type; }
    void setURLType(TURLType type) { m_type = type; }

    // The full address Execute() opens.
    QString address() const;
    // Opens the address; false when there is none or the handler refused it.
    bool Execute();

    static QString prefixOf(TURLType type);

private:
    QString m_url;
    TURLType m_type = utHttp;
};
