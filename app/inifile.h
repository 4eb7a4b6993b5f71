#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>

// A plain INI file, opened by path for every read and write so that several parts of
// the program can write their own keys without sharing state. Sections and keys
// compare without regard to case; a value is the rest of its line after the first "=",
// verbatim: no quoting, escaping or list splitting, since stored values (the scrambled
// password among them) may hold commas, backslashes and quotes. Writing keeps the
// order of existing keys and appends new ones at the end of their section. A missing
// file reads as empty and is created on the first write.
class IniFile
{
public:
    explicit IniFile(const QString &path) : m_path(path) {}

    const QString &path() const { return m_path; }

    QByteArray ReadString(QByteArrayView section, QByteArrayView key,
                          const QByteArray &defaultValue = {}) const;
    // Line breaks cannot be stored in a line-based file; they are dropped from value.
    bool WriteString(QByteArrayView section, QByteArrayView key, const QByteArray &value);
    // Keys of a section in file order.
    QList<QByteArray> ReadSection(QByteArrayView section) const;
    QList<QPair<QByteArray, QByteArray>> ReadSectionValues(QByteArrayView section) const;
    // Replaces the whole section in one write: lists (friends, ignored, ...) are stored
    // this way so that saving n entries costs one file write, not n.
    bool WriteSectionValues(QByteArrayView section,
                            const QList<QPair<QByteArray, QByteArray>> &values);
    bool SectionExists(QByteArrayView section) const;
    bool EraseSection(QByteArrayView section);
    bool DeleteKey(QByteArrayView section, QByteArrayView key);

private:
    QList<QByteArray> readLines() const;
    bool writeLines(const QList<QByteArray> &lines) const;

    QString m_path;
};
