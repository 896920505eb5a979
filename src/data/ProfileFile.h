#pragma once
// The settings file is a Windows-style profile ("INI") file that people edit
// by hand and that older copies of the tool on Windows share. QSettings would
// reorder keys and rewrite every line, so this module reads and writes one
// key at a time and leaves every other byte of the file as it was.
//
// Layout understood:
//   [Section]          a section header; the name is what lies between the
//                      brackets, trimmed. A "[" line without "]" starts a
//                      section that no name matches, so the keys under it are
//                      never mistaken for keys of the section above it.
//   key=value          an entry; key and value are trimmed of blanks.
//   ; comment          kept as is, like blank lines and lines without "=".
// Section and key names match without regard to letter case. Line ends may be
// CR LF or LF, and the file may begin with a UTF-8 byte order mark.
//
// Duplicates: the first section of a name and the first key of a name inside
// it win, for reading and for writing, as the Windows profile functions do.
// Later duplicates are kept in the file but never read, listed or changed.
//
// Every call opens the file, does its work and closes it again; nothing is
// cached, so a second program (or a person with an editor) may change the
// file between calls.
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What reading settings needs of a profile, wherever its text lives.
class IProfileReader {
public:
    virtual ~IProfileReader() = default;
    virtual std::string ReadString(const std::string& section, const std::string& key,
                                   const std::string& fallback) const = 0;
    virtual bool HasKey(const std::string& section, const std::string& key) const = 0;
    virtual int ReadInt(const std::string& section, const std::string& key, int fallback) const = 0;
    virtual std::vector<std::string> Keys(const std::string& section) const = 0;
    virtual std::vector<std::string> SectionLines(const std::string& section) const = 0;
};

class ProfileText;

// What a person should be told once about the settings file at `path`: that
// it is read-only (never written, its mode never changed), larger than
// ProfileFile::kMaxBytes (cut there, never written), or not a regular file.
// Nothing for a missing or ordinary file.
std::optional<std::string> ProfileFileNotice(const std::string& path);

class ProfileFile : public IProfileReader {
public:
    // Files larger than this are read only up to this size and never written:
    // rewriting would lose their tail. A settings file is a few kilobytes; a
    // long-used one with many sensor types and comments stays far below this.
    static constexpr long long kMaxBytes = 16LL * 1024 * 1024;

    explicit ProfileFile(std::string path);

    const std::string& Path() const { return mPath; }

    // The trimmed value of `key`; `fallback` when the file, the section or the
    // key is missing. A key present with an empty value gives "".
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& fallback) const override;

    bool HasKey(const std::string& section, const std::string& key) const override;

    // The value read as a signed integer (leading digits, optional "-"; no
    // digits gives 0). `fallback` when the key is missing or its digits do
    // not fit in 32 bits.
    int ReadInt(const std::string& section, const std::string& key, int fallback) const override;

    // The section's key names in file order, each name once (first spelling).
    std::vector<std::string> Keys(const std::string& section) const override;

    // The section's entries as "key=value" lines, in the order of Keys().
    std::vector<std::string> SectionLines(const std::string& section) const override;

    // Sets `key` to `value`. An existing entry keeps everything up to its "="
    // and gets the new value; a new key goes after the last non-blank line of
    // its section; a new section goes at the end of the file. New lines use
    // the line end the file already uses (CR LF for a new file). The file is
    // replaced whole or not at all. False when the names are unusable (empty,
    // or holding characters that would break the layout), when the file
    // cannot be read in full, or when it cannot be written.
    bool WriteString(const std::string& section, const std::string& key, const std::string& value) const;
    bool WriteInt(const std::string& section, const std::string& key, int value) const;

    // The file as it is now, read and parsed once: every read from it gives
    // what the same read from the file would have given at this moment (a
    // missing or unreadable file gives no keys at all). For reading many
    // keys at once, from one state of the file, instead of opening and
    // parsing the file again for each key.
    ProfileText Snapshot() const;

private:
    std::string mPath;
};

// The same layout over text held in memory, parsed once: what a file's text
// would give. Writing gives the new text instead of replacing a file.
class ProfileText : public IProfileReader {
public:
    explicit ProfileText(std::string bytes);

    const std::string& Bytes() const;
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& fallback) const override;
    bool HasKey(const std::string& section, const std::string& key) const override;
    int ReadInt(const std::string& section, const std::string& key, int fallback) const override;
    std::vector<std::string> Keys(const std::string& section) const override;
    std::vector<std::string> SectionLines(const std::string& section) const override;
    // The whole text with `key` set to `value`, every other byte kept as
    // ProfileFile::WriteString would; nothing when the names are unusable.
    std::optional<std::string> WithValue(const std::string& section, const std::string& key,
                                         const std::string& value) const;

private:
    struct Document;
    std::shared_ptr<const Document> FDoc;
};
