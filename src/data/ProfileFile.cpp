#include "ProfileFile.h"

#include <QFile>
#include <QString>

#include <cstdlib>
#include <memory>
#include <optional>
#include <unordered_set>
#include <utility>

#include "TextHelpers.h"
#include "WholeFile.h"

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";
constexpr std::size_t kBomSize = 3;

enum class LineKind { Other, Section, BrokenSection, Entry };

struct Line {
    std::size_t begin = 0;       // first byte of the line
    std::size_t end = 0;         // one past the text, before its line end
    std::size_t next = 0;        // first byte after the line end
    LineKind kind = LineKind::Other;
    std::string name;            // section name or key, trimmed
    // `name` as names compare (FoldName), folded once when the line is
    // classified: the settings are read key by key, and folding every name
    // again for each look-up cost an allocation per line per key.
    std::string folded;
    std::size_t valueBegin = 0;  // entries: first byte after "="
};

enum class LoadState { Missing, Complete, Incomplete };

struct ParsedFile {
    LoadState state = LoadState::Missing;
    std::string bytes;
    std::vector<Line> lines;
};

bool IsBlank(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

// [begin, end) without surrounding blanks, as the same blanks TrimBlanks uses.
std::pair<std::size_t, std::size_t> TrimRange(const std::string& s, std::size_t begin, std::size_t end)
{
    while (begin < end && IsBlank(s[begin]))
        ++begin;
    while (end > begin && IsBlank(s[end - 1]))
        --end;
    return {begin, end};
}

// Names compare without regard to letter case. Section and key names are
// ASCII in practice; sensor names are free text, so anything else is folded
// the way Qt folds case.
std::string FoldName(const std::string& name)
{
    std::string folded = name;
    for (char& c : folded) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).toCaseFolded().toStdString();
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

Line ClassifyLine(const std::string& bytes, std::size_t begin, std::size_t end, std::size_t next)
{
    Line line;
    line.begin = begin;
    line.end = end;
    line.next = next;
    const auto [tb, te] = TrimRange(bytes, begin, end);
    if (tb == te || bytes[tb] == ';')
        return line;
    if (bytes[tb] == '[') {
        const std::size_t close = bytes.find(']', tb + 1);
        if (close == std::string::npos || close >= te) {
            line.kind = LineKind::BrokenSection;
            return line;
        }
        const auto [nb, ne] = TrimRange(bytes, tb + 1, close);
        line.kind = LineKind::Section;
        line.name = bytes.substr(nb, ne - nb);
        line.folded = FoldName(line.name);
        return line;
    }
    const std::size_t equals = bytes.find('=', tb);
    if (equals == std::string::npos || equals >= te)
        return line;
    const auto [kb, ke] = TrimRange(bytes, tb, equals);
    if (kb == ke)
        return line;
    line.kind = LineKind::Entry;
    line.name = bytes.substr(kb, ke - kb);
    line.folded = FoldName(line.name);
    line.valueBegin = equals + 1;
    return line;
}

void SplitLines(ParsedFile& doc)
{
    const std::string& bytes = doc.bytes;
    std::size_t pos = bytes.compare(0, kBomSize, kBom) == 0 ? kBomSize : 0;
    while (pos < bytes.size()) {
        const std::size_t newline = bytes.find('\n', pos);
        std::size_t end = newline == std::string::npos ? bytes.size() : newline;
        const std::size_t next = newline == std::string::npos ? bytes.size() : newline + 1;
        if (newline != std::string::npos && end > pos && bytes[end - 1] == '\r')
            --end;
        doc.lines.push_back(ClassifyLine(bytes, pos, end, next));
        pos = next;
    }
}

ParsedFile Load(const std::string& path)
{
    ParsedFile doc;
    QFile file;
    // A FIFO or a device in its place would hold the program or never end:
    // only a regular file is read, and never written over.
    const OpenResult opened = OpenRegularFile(file, QString::fromStdString(path));
    if (opened == OpenResult::Missing)
        return doc;
    doc.state = LoadState::Incomplete;
    if (opened != OpenResult::Opened)
        return doc;
    // One byte more than the limit tells a file at the limit from a larger one;
    // size() is not trusted because special files report 0. Read in pieces:
    // asking for the whole limit at once would allocate (and clear) a
    // megabyte for every key read from a file of a few hundred bytes.
    constexpr qint64 kPiece = 16 * 1024;
    QByteArray data;
    while (data.size() <= ProfileFile::kMaxBytes) {
        const QByteArray piece = file.read(std::min<qint64>(kPiece, ProfileFile::kMaxBytes + 1 - data.size()));
        if (piece.isEmpty())
            break;
        data += piece;
    }
    const bool readFailed = file.error() != QFileDevice::NoError;
    file.close();
    if (readFailed)
        return doc;
    const qsizetype kept = std::min<qsizetype>(data.size(), ProfileFile::kMaxBytes);
    doc.bytes.assign(data.constData(), static_cast<std::size_t>(kept));
    if (data.size() <= ProfileFile::kMaxBytes)
        doc.state = LoadState::Complete;
    SplitLines(doc);
    return doc;
}

// Index range [first, last) of the lines that belong to the first section of
// this name, header excluded; nullopt when there is none.
struct SectionRange {
    std::size_t header;
    std::size_t first;
    std::size_t last;
};

std::optional<SectionRange> FindSection(const ParsedFile& doc, const std::string& section)
{
    const std::string wanted = FoldName(section);
    for (std::size_t i = 0; i < doc.lines.size(); ++i) {
        if (doc.lines[i].kind != LineKind::Section || doc.lines[i].folded != wanted)
            continue;
        std::size_t last = i + 1;
        while (last < doc.lines.size() && doc.lines[last].kind != LineKind::Section &&
               doc.lines[last].kind != LineKind::BrokenSection)
            ++last;
        return SectionRange{i, i + 1, last};
    }
    return std::nullopt;
}

std::optional<std::size_t> FindEntry(const ParsedFile& doc, const SectionRange& range, const std::string& key)
{
    const std::string wanted = FoldName(key);
    for (std::size_t i = range.first; i < range.last; ++i)
        if (doc.lines[i].kind == LineKind::Entry && doc.lines[i].folded == wanted)
            return i;
    return std::nullopt;
}

std::string ValueOf(const ParsedFile& doc, const Line& line)
{
    const auto [vb, ve] = TrimRange(doc.bytes, line.valueBegin, line.end);
    return doc.bytes.substr(vb, ve - vb);
}

ParsedFile Parse(std::string bytes)
{
    ParsedFile doc;
    doc.state = LoadState::Complete;
    doc.bytes = std::move(bytes);
    SplitLines(doc);
    return doc;
}

std::optional<std::string> FindValue(const ParsedFile& doc, const std::string& section, const std::string& key)
{
    const auto range = FindSection(doc, section);
    if (!range)
        return std::nullopt;
    const auto entry = FindEntry(doc, *range, key);
    if (!entry)
        return std::nullopt;
    return ValueOf(doc, doc.lines[*entry]);
}

// The line end new lines get: the one that ends the file's first line, CR LF
// when the file has no line end yet.
std::string LineEndOf(const std::string& bytes)
{
    const std::size_t newline = bytes.find('\n');
    if (newline == std::string::npos)
        return "\r\n";
    return (newline > 0 && bytes[newline - 1] == '\r') ? "\r\n" : "\n";
}

bool HasAny(const std::string& text, const char* forbidden)
{
    return text.find('\0') != std::string::npos || text.find_first_of(forbidden) != std::string::npos;
}

// Names and values that would not read back as written are refused rather
// than written: a line break would split the entry, "]" would end a section
// name early, "=" would end a key early, and surrounding blanks are trimmed
// away on reading.
bool UsableNames(const std::string& section, const std::string& key, const std::string& value)
{
    if (section.empty() || TrimBlanks(section) != section || HasAny(section, "\r\n]"))
        return false;
    if (key.empty() || TrimBlanks(key) != key || HasAny(key, "\r\n=") || key[0] == '[' || key[0] == ';')
        return false;
    return !HasAny(value, "\r\n");
}

bool SaveWhole(const std::string& path, const std::string& bytes)
{
    return WriteFileWhole(QString::fromStdString(path), QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

}  // namespace

namespace {

int ReadIntOf(const ParsedFile& doc, const std::string& section, const std::string& key, int fallback)
{
    const auto text = FindValue(doc, section, key);
    if (!text)
        return fallback;
    const auto number = NormalizeNumber(NumberForm::Integer, *text);
    if (!number)
        return fallback;
    return static_cast<int>(std::strtol(number->c_str(), nullptr, 10));
}

std::vector<std::string> KeysOf(const ParsedFile& doc, const std::string& section)
{
    std::vector<std::string> keys;
    const auto range = FindSection(doc, section);
    if (!range)
        return keys;
    std::unordered_set<std::string> seen;
    for (std::size_t i = range->first; i < range->last; ++i) {
        const Line& line = doc.lines[i];
        if (line.kind == LineKind::Entry && seen.insert(line.folded).second)
            keys.push_back(line.name);
    }
    return keys;
}

std::vector<std::string> SectionLinesOf(const ParsedFile& doc, const std::string& section)
{
    std::vector<std::string> lines;
    const auto range = FindSection(doc, section);
    if (!range)
        return lines;
    std::unordered_set<std::string> seen;
    for (std::size_t i = range->first; i < range->last; ++i) {
        const Line& line = doc.lines[i];
        if (line.kind == LineKind::Entry && seen.insert(line.folded).second)
            lines.push_back(line.name + "=" + ValueOf(doc, line));
    }
    return lines;
}

std::optional<std::string> WithValueOf(const ParsedFile& doc, const std::string& section, const std::string& key,
                                       const std::string& value)
{
    if (!UsableNames(section, key, value))
        return std::nullopt;
    const std::string& old = doc.bytes;
    const std::string eol = LineEndOf(old);
    const std::string entry = key + "=" + value;
    std::string out;
    out.reserve(old.size() + section.size() + entry.size() + 8);

    const auto range = FindSection(doc, section);
    if (range) {
        if (const auto at = FindEntry(doc, *range, key)) {
            const Line& line = doc.lines[*at];
            out.append(old, 0, line.valueBegin);
            out += value;
            out.append(old, line.end, std::string::npos);
        } else {
            // After the last line with content, so blank lines that separate
            // this section from the next stay where they are.
            std::size_t after = range->header;
            for (std::size_t i = range->first; i < range->last; ++i) {
                const Line& line = doc.lines[i];
                const auto [tb, te] = TrimRange(old, line.begin, line.end);
                if (tb != te)
                    after = i;
            }
            const Line& line = doc.lines[after];
            const bool ended = line.next > line.end;
            out.append(old, 0, line.next);
            if (!ended)
                out += eol;
            out += entry + eol;
            out.append(old, line.next, std::string::npos);
        }
    } else {
        out = old;
        if (!out.empty() && out.back() != '\n' && !(out.size() == kBomSize && out == kBom))
            out += eol;
        out += "[" + section + "]" + eol + entry + eol;
    }
    return out;
}

}  // namespace

ProfileFile::ProfileFile(std::string path) : mPath(std::move(path)) {}

std::string ProfileFile::ReadString(const std::string& section, const std::string& key,
                                    const std::string& fallback) const
{
    return FindValue(Load(mPath), section, key).value_or(fallback);
}

bool ProfileFile::HasKey(const std::string& section, const std::string& key) const
{
    return FindValue(Load(mPath), section, key).has_value();
}

int ProfileFile::ReadInt(const std::string& section, const std::string& key, int fallback) const
{
    return ReadIntOf(Load(mPath), section, key, fallback);
}

std::vector<std::string> ProfileFile::Keys(const std::string& section) const
{
    return KeysOf(Load(mPath), section);
}

std::vector<std::string> ProfileFile::SectionLines(const std::string& section) const
{
    return SectionLinesOf(Load(mPath), section);
}

bool ProfileFile::WriteString(const std::string& section, const std::string& key, const std::string& value) const
{
    if (!UsableNames(section, key, value) || IsReadOnlyFile(QString::fromStdString(mPath)))
        return false;
    const ParsedFile doc = Load(mPath);
    if (doc.state == LoadState::Incomplete)
        return false;
    const std::optional<std::string> out = WithValueOf(doc, section, key, value);
    return out && SaveWhole(mPath, *out);
}

struct ProfileText::Document {
    ParsedFile parsed;
};

ProfileText::ProfileText(std::string bytes) : FDoc(std::make_shared<Document>(Document{Parse(std::move(bytes))})) {}

ProfileText ProfileFile::Snapshot() const
{
    return ProfileText(Load(mPath).bytes);
}

const std::string& ProfileText::Bytes() const
{
    return FDoc->parsed.bytes;
}

std::string ProfileText::ReadString(const std::string& section, const std::string& key,
                                    const std::string& fallback) const
{
    return FindValue(FDoc->parsed, section, key).value_or(fallback);
}

bool ProfileText::HasKey(const std::string& section, const std::string& key) const
{
    return FindValue(FDoc->parsed, section, key).has_value();
}

int ProfileText::ReadInt(const std::string& section, const std::string& key, int fallback) const
{
    return ReadIntOf(FDoc->parsed, section, key, fallback);
}

std::vector<std::string> ProfileText::Keys(const std::string& section) const
{
    return KeysOf(FDoc->parsed, section);
}

std::vector<std::string> ProfileText::SectionLines(const std::string& section) const
{
    return SectionLinesOf(FDoc->parsed, section);
}

std::optional<std::string> ProfileText::WithValue(const std::string& section, const std::string& key,
                                                  const std::string& value) const
{
    return WithValueOf(FDoc->parsed, section, key, value);
}

bool ProfileFile::WriteInt(const std::string& section, const std::string& key, int value) const
{
    return WriteString(section, key, std::to_string(value));
}

std::optional<std::string> ProfileFileNotice(const std::string& path)
{
    const QString name = QString::fromStdString(path);
    const std::string shown = QFile::decodeName(QFile::encodeName(name)).toStdString();
    QFile file;
    const OpenResult opened = OpenRegularFile(file, name);
    if (opened == OpenResult::Missing)
        return std::nullopt;
    if (opened == OpenResult::NotRegular)
        return shown + " is not a regular file: it is neither read nor written.";
    if (opened == OpenResult::Failed)
        return shown + " cannot be read: the defaults apply, and it is never written.";
    if (file.size() > ProfileFile::kMaxBytes)
        return shown + " holds " + std::to_string(file.size()) + " bytes: only the first " +
               std::to_string(ProfileFile::kMaxBytes) + " are read (keys after byte " +
               std::to_string(ProfileFile::kMaxBytes) + " are ignored), and the file is never written.";
    if (IsReadOnlyFile(name))
        return shown + " is read-only: its settings are used, and nothing is written to it.";
    return std::nullopt;
}
