// Profile (INI) text as the settings file keeps it: UTF-16LE with a byte-order mark,
// CR LF line ends, section and key names matched without regard to case, values read
// trimmed of surrounding blanks. Lines that are not changed keep their exact text, so a
// file written by another writer survives our edits byte for byte.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hygro {

class ProfileFile {
  public:
    // An empty document (serialises to the byte-order mark alone).
    ProfileFile() = default;

    // Parses file bytes. Empty input, or a UTF-16LE byte-order mark followed by an even
    // number of bytes, parses; anything else (no byte-order mark, odd length) is not
    // profile text and gives nullopt.
    static std::optional<ProfileFile> Parse(std::string_view bytes);

    // Byte-order mark + every line + CR LF after each line.
    std::string Serialize() const;

    // The value of the first matching key of the first matching section, trimmed of
    // blanks (and of one pair of matching surrounding quotes); nullopt when absent.
    std::optional<std::u16string> Get(std::u16string_view section, std::u16string_view key) const;
    std::u16string GetString(std::u16string_view section, std::u16string_view key,
                             std::u16string_view def) const;

    // Rewrites an existing key's line in place (keeping the key's spelling), or appends
    // "key=value" to the end of the section, or appends a new section at the end of the
    // document. CR and LF in value are replaced by blanks so a value stays one line.
    void SetString(std::u16string_view section, std::u16string_view key, std::u16string_view value);

    // Removes the section's header and every line up to the next header. Returns whether
    // a section was removed (all sections of that name are removed).
    bool DeleteSection(std::u16string_view section);

    bool HasSection(std::u16string_view section) const;
    std::vector<std::u16string> SectionNames() const;

  private:
    struct Line {
        std::u16string text; // without the line end
    };
    std::vector<Line> m_lines;
};

// "Integer" as the settings file reads it: optional blanks and sign, then decimal digits up
// to the first other character; 0 when there are none. Saturates instead of overflowing.
int ProfileToInt(std::u16string_view text);
// The same for a decimal fraction (optional exponent); 0.0 when nothing parses.
double ProfileToDouble(std::u16string_view text);

} // namespace hygro
