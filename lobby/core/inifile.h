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
// file reads as empty and is created on the first write. A file that exists but cannot
// be read also reads as empty, but is never written over: every write to it fails, so
// that one unreadable moment cannot replace all settings by a single key.
class IniFile
{
public:
    explicit IniFile(const QString &path) : m_path(path) {}

    const QString &path() const { return m_path; }
    // False when the file exists but cannot be read (writes to it fail).
    bool isReadable() const;

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
    // The file's lines; false when it exists but cannot be read.
    bool readLines(QList<QByteArray> &lines) const;
    QList<QByteArray> readLines() const;
    bool writeLines(const QList<QByteArray> &lines) const;

    QString m_path;
};
