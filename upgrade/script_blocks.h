#pragma once
// How the upgrade script "UpdateSQL.sql" is cut into blocks: the one reading of the file that
// the script stage runs and that the package makers' check shows.
//
// A line ends at LF; a CR is never part of a line; Ctrl-Z ends the line it stands in and the
// file. Lines are trimmed of the bytes 0..32 and empty lines are skipped. A line opening with
// "-- sql begin" begins a block named by the text from its 14th byte on; a line opening with
// "-- end sql" ends the block: the statement lines collected since the begin marker, joined by
// CR LF, are its command. A begin marker drops the lines collected before it; after an end
// marker the collected lines are dropped too, so a second end marker without a begin marker
// between gives an empty command (the lines it would repeat never run twice).
//
// The file is UTF-8 when it is wholly valid UTF-8 (a leading byte-order mark is skipped), else
// GB18030; names and commands come as UTF-8 text.

#include <memory>
#include <string>

namespace offline_upgrade {

enum class ScriptCodePage { Ascii, Utf8, Gb18030 };

// One step of cutting the file, in file order. Lines are numbered from 1, counted by LF.
struct ScriptPiece {
    enum class Kind {
        Begin,   // a begin marker: Name, Line
        End,     // an end marker: the command to run
        Dropped, // statement lines that no end marker runs (see InBlock), or a begun block
                 // without an end marker
    };
    Kind What = Kind::Begin;
    int Line = 0;        // the marker's line; for Dropped the first dropped line (0: none)
    int LastLine = 0;    // Dropped: the last dropped line (0: none)
    std::string Name;    // Begin; End and Dropped: the name of the last begin marker read
    std::string Command; // End: the command text as it is sent
    int Statements = 0;  // End: lines in Command; Dropped: lines dropped
    int BeginLine = 0;   // End and Dropped: the line of the begin marker of this block, 0 when
                         // no begin marker opened it (an end marker after an end marker, or
                         // lines outside any block)
};

// Reads the script file piece by piece; memory holds one line and the block being collected,
// whatever the file's size.
class ScriptCutter {
public:
    // Opens the file and decides its code page (one pass over it). Throws KxError when the
    // file cannot be opened or read.
    explicit ScriptCutter(const std::string &path);
    ~ScriptCutter();
    ScriptCutter(const ScriptCutter &) = delete;
    ScriptCutter &operator=(const ScriptCutter &) = delete;

    ScriptCodePage CodePage() const { return codePage_; }

    // The next piece; false after the last one. Throws KxError when the file cannot be read.
    bool Next(ScriptPiece &piece);

private:
    class LineReader;
    bool Emit(ScriptPiece &piece);

    std::unique_ptr<LineReader> reader_;
    ScriptCodePage codePage_ = ScriptCodePage::Ascii;
    std::string name_;      // the last block name read
    std::string collected_; // the statement lines since the last marker, joined by CR LF
    int statements_ = 0;
    int firstLine_ = 0;
    int lastLine_ = 0;
    int beginLine_ = 0; // the begin marker of the open block; 0 when no block is open
    bool held_ = false; // a begin marker read and held back behind a Dropped piece
    ScriptPiece heldPiece_;
    bool ended_ = false;
};

// The script file in the unpacked package folder.
inline constexpr char kUpgradeScriptFileName[] = "UpdateSQL.sql";

// The begin and end markers, matched on their first 12 and 10 bytes.
inline constexpr char kScriptBeginMarker[] = "-- sql begin";
inline constexpr char kScriptEndMarker[] = "-- end sql";

} // namespace offline_upgrade
