#include "inifile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

bool sameName(QByteArrayView a, QByteArrayView b)
{
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

// The section name of a header line "[name]", or a null array for any other line.
QByteArray sectionOf(const QByteArray &line)
{
    const QByteArray t = line.trimmed();
    if (t.size() < 2 || t.front() != '[')
        return {};
    const auto close = t.indexOf(']');
    if (close < 0)
        return {};
    QByteArray name = t.mid(1, close - 1).trimmed();
    if (name.isNull())
        name = QByteArray("");
    return name;
}

struct KeyValue
{
    QByteArray key;
    QByteArray value;
    bool valid = false;
};

KeyValue splitEntry(const QByteArray &line)
{
    const auto eq = line.indexOf('=');
    if (eq < 0)
        return {};
    const QByteArray key = line.left(eq).trimmed();
    if (key.isEmpty() || key.startsWith(';') || key.startsWith('#'))
        return {};
    return {key, line.mid(eq + 1), true};
}

// Calls visit(index, key, value) for each entry of the section, in file order.
template <typename Visit>
bool forEachEntry(const QList<QByteArray> &lines, QByteArrayView section, Visit visit)
{
    bool inSection = false;
    bool found = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray header = sectionOf(lines[i]);
        if (!header.isNull()) {
            inSection = sameName(header, section);
            found = found || inSection;
            continue;
        }
        if (!inSection)
            continue;
        const KeyValue kv = splitEntry(lines[i]);
        if (kv.valid && !visit(i, kv.key, kv.value))
            break;
    }
    return found;
}

} // namespace

bool IniFile::readLines(QList<QByteArray> &lines) const
{
    lines.clear();
    QFile file(m_path);
    // A fresh look at the path: the QFile's own answer after a refused open is not.
    if (!file.open(QIODevice::ReadOnly))
        return !QFileInfo::exists(m_path);
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    lines = content.split('\n');
    for (auto &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return true;
}

QList<QByteArray> IniFile::readLines() const
{
    QList<QByteArray> lines;
    readLines(lines);
    return lines;
}

bool IniFile::isReadable() const
{
    QList<QByteArray> lines;
    return readLines(lines);
}

bool IniFile::writeLines(const QList<QByteArray> &lines) const
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // Written aside and renamed over the old file, so a crash never leaves half a file.
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const auto &line : lines) {
        file.write(line);
        file.write("\n");
    }
    return file.commit();
}

QByteArray IniFile::ReadString(QByteArrayView section, QByteArrayView key,
                               const QByteArray &defaultValue) const
{
    QByteArray result = defaultValue;
    forEachEntry(readLines(), section, [&](qsizetype, const QByteArray &k, const QByteArray &v) {
        if (!sameName(k, key))
            return true;
        result = v;
        return false;
    });
    return result;
}

bool IniFile::WriteString(QByteArrayView section, QByteArrayView key, const QByteArray &value)
{
    QByteArray clean = value;
    clean.replace('\r', QByteArray()).replace('\n', QByteArray());
    const QByteArray entry = key.trimmed().toByteArray() + '=' + clean;

    QList<QByteArray> lines;
    if (!readLines(lines))
        return false;
    qsizetype existing = -1;
    QByteArray existingKey;
    const bool hasSection =
        forEachEntry(lines, section, [&](qsizetype i, const QByteArray &k, const QByteArray &) {
            if (!sameName(k, key))
                return true;
            existing = i;
            existingKey = k;
            return false;
        });
    if (existing >= 0) {
        lines[existing] = existingKey + '=' + clean;
    } else if (hasSection) {
        // After the last non-blank line of the section.
        qsizetype insertAt = -1;
        bool inSection = false;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QByteArray header = sectionOf(lines[i]);
            if (!header.isNull()) {
                if (inSection)
                    break;
                inSection = sameName(header, section);
                if (inSection)
                    insertAt = i + 1;
                continue;
            }
            if (inSection && !lines[i].trimmed().isEmpty())
                insertAt = i + 1;
        }
        lines.insert(insertAt, entry);
    } else {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines << QByteArray();
        lines << '[' + section.toByteArray() + ']' << entry;
    }
    return writeLines(lines);
}

QList<QByteArray> IniFile::ReadSection(QByteArrayView section) const
{
    QList<QByteArray> keys;
    forEachEntry(readLines(), section, [&](qsizetype, const QByteArray &k, const QByteArray &) {
        keys << k;
        return true;
    });
    return keys;
}

QList<QPair<QByteArray, QByteArray>> IniFile::ReadSectionValues(QByteArrayView section) const
{
    QList<QPair<QByteArray, QByteArray>> values;
    forEachEntry(readLines(), section, [&](qsizetype, const QByteArray &k, const QByteArray &v) {
        values.append({k, v});
        return true;
    });
    return values;
}

bool IniFile::SectionExists(QByteArrayView section) const
{
    for (const auto &line : readLines()) {
        const QByteArray header = sectionOf(line);
        if (!header.isNull() && sameName(header, section))
            return true;
    }
    return false;
}

bool IniFile::EraseSection(QByteArrayView section)
{
    QList<QByteArray> lines;
    if (!readLines(lines))
        return false;
    QList<QByteArray> kept;
    kept.reserve(lines.size());
    bool inSection = false;
    bool erased = false;
    for (const auto &line : lines) {
        const QByteArray header = sectionOf(line);
        if (!header.isNull())
            inSection = sameName(header, section);
        if (inSection)
            erased = true;
        else
            kept << line;
    }
    return erased ? writeLines(kept) : true;
}

bool IniFile::DeleteKey(QByteArrayView section, QByteArrayView key)
{
    QList<QByteArray> lines;
    if (!readLines(lines))
        return false;
    qsizetype existing = -1;
    forEachEntry(lines, section, [&](qsizetype i, const QByteArray &k, const QByteArray &) {
        if (!sameName(k, key))
            return true;
        existing = i;
        return false;
    });
    if (existing < 0)
        return true;
    lines.removeAt(existing);
    return writeLines(lines);
}

bool IniFile::WriteSectionValues(QByteArrayView section,
                                 const QList<QPair<QByteArray, QByteArray>> &values)
{
    QList<QByteArray> lines;
    if (!readLines(lines))
        return false;
    QList<QByteArray> out;
    out.reserve(lines.size() + values.size() + 2);
    auto entries = [&]() {
        for (const auto &[key, value] : values) {
            QByteArray clean = value;
            clean.replace('\r', QByteArray()).replace('\n', QByteArray());
            out << key.trimmed() + '=' + clean;
        }
    };
    bool inSection = false;
    bool written = false;
    for (const auto &line : lines) {
        const QByteArray header = sectionOf(line);
        if (!header.isNull()) {
            inSection = sameName(header, section);
            if (inSection) {
                if (written)
                    continue; // a duplicate header: its entries merge into the first
                out << line;
                entries();
                written = true;
                continue;
            }
        }
        if (!inSection)
            out << line;
    }
    if (!written) {
        if (!out.isEmpty() && !out.last().trimmed().isEmpty())
            out << QByteArray();
        out << '[' + section.toByteArray() + ']';
        entries();
    }
    return writeLines(out);
}
