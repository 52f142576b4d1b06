// The product registry file, cfg_ProductRegistry.txt: a small text file beside
// the executable (or in its config/ subfolder) that redirects the product's
// registry key and the names of five of its settings values.
//
// Each line holds a key and a value separated by TABs:
//
//   # comment
//   RegKeyProductCurrentVersion<TAB>SOFTWARE\Norlake\Quillpost\CurrentVersion
//   RegValueDebugLevel<TAB>"TraceLevel"
//
// The file is read once per process, by the logging interface's one-time
// initialisation, before any setting is read.
// On the library's ladder: readers; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "dbg_locks.h"

namespace dbg_internal {

// The product key path below HKEY_LOCAL_MACHINE and the names of the five
// settings values, each at most 259 characters; empty strings until
// LoadProductRegistry has run.
struct ProductRegistryNames {
    wchar_t keyPath[MAX_PATH];
    wchar_t homeDir[MAX_PATH];
    wchar_t debugLevel[MAX_PATH];
    wchar_t debugLogCount[MAX_PATH];
    wchar_t debugModule[MAX_PATH];
    wchar_t logCriticalInfo[MAX_PATH];
};
extern ProductRegistryNames g_productRegistry;

// Reads cfg_ProductRegistry.txt (config/ first, then the executable's own
// directory, then the current directory when the executable's path is unknown)
// and sets g_productRegistry; every name the file does not give keeps its
// default. Not thread-safe: the caller runs it once.
void LoadProductRegistry() REQUIRES(SettingsLock());
// The same for a program whose executable lies in executableDirectory (with
// its trailing '/'; null: the current directory): fills names and gives the
// path of the file that was read, or empty when none was found.
std::wstring LoadProductRegistryNames(const wchar_t* executableDirectory, ProductRegistryNames& names);
// The key path and value names that stand without a file.
void SetDefaultProductRegistryNames(ProductRegistryNames& names);

// The directory of the process's executable, with its trailing '/', copied into
// buffer (size in characters, always terminated). False when the executable's
// path cannot be had.
bool GetProcessDirectory(wchar_t* buffer, int size);

// Holds a text file in memory as line pieces and walks them with callbacks.
class CProductRegINIReader {
  public:
    class CIterateEachTokenCallback;

    // Receives the stored lines in file order.
    class CIterateEachLineCallback {
      public:
        virtual ~CIterateEachLineCallback() = 0;
        virtual void OnBegin(int lineCount) = 0;
        virtual void OnEnd() = 0;
        // line is terminated and holds one piece, with its line feed when it
        // had one. False stops the walk.
        virtual bool OnLine(int index, const wchar_t* line) = 0;
        // Splits the token callback's line at runs of its delimiters and hands
        // the tokens over one by one. Leading delimiters are skipped, no token
        // is empty, and the line itself is left unchanged.
        virtual void IterateEachToken(CIterateEachTokenCallback& tokens);
    };

    // Consumes the tokens of one line.
    class CIterateEachTokenCallback {
      public:
        CIterateEachTokenCallback(const wchar_t* line, const wchar_t* delimiters)
            : line_(line), delimiters_(delimiters) {}
        virtual ~CIterateEachTokenCallback() = 0;
        // True when the token starts with one of commentChars.
        virtual bool IsCommentToken(const wchar_t* token, const wchar_t* commentChars) const;
        virtual const wchar_t* GetLine() const { return line_; }
        virtual const wchar_t* GetDelimiters() const { return delimiters_; }
        // False stops the walk over the line's tokens.
        virtual bool OnToken(int index, const wchar_t* token) = 0;

      private:
        const wchar_t* line_;
        const wchar_t* delimiters_;
    };

    // Stored text, in wide characters: every piece counts its length plus one.
    static constexpr int kTextCapacity = 10240;
    // A physical line longer than this is stored as several pieces.
    static constexpr int kMaxPieceLength = 4095;

    CProductRegINIReader();

    // Appends the file's lines, read as UTF-8, until the end of the file or
    // the first piece that would overflow the stored text. True when the file
    // could be opened, even if nothing of it was stored.
    bool LoadFile(const wchar_t* path);
    void IterateEachLine(CIterateEachLineCallback& lines) const;

  private:
    bool StorePiece(const wchar_t* piece);

    std::vector<int> lineOffsets_;  // start of each piece in text_
    std::vector<wchar_t> text_;     // the pieces, each terminated
    int textUsed_ = 0;
};

// Collects the key/value pairs of the file: key and value are the first two
// TAB-separated tokens of a line; the last line with a key wins.
class CRegLineReaderCB : public CProductRegINIReader::CIterateEachLineCallback {
  public:
    ~CRegLineReaderCB() override = default;
    void OnBegin(int) override {}
    void OnEnd() override {}
    bool OnLine(int index, const wchar_t* line) override;

    const std::map<std::wstring, std::wstring>& GetValues() const { return values_; }

  private:
    std::map<std::wstring, std::wstring> values_;
};

// Takes the key and the value out of one line.
class CRegLineReaderTokenCB : public CProductRegINIReader::CIterateEachTokenCallback {
  public:
    // Longest value kept after an opening double quote.
    static constexpr int kMaxQuotedValueLength = 1023;

    explicit CRegLineReaderTokenCB(const wchar_t* line);
    ~CRegLineReaderTokenCB() override = default;
    bool OnToken(int index, const wchar_t* token) override;

    const std::wstring& GetKey() const { return key_; }
    const std::wstring& GetValue() const { return value_; }

  private:
    std::wstring key_;
    std::wstring value_;
};

// True when the file gave key a value; the value is then copied into value.
bool LookupValue(const CRegLineReaderCB& lines, const wchar_t* key, std::wstring& value);

}  // namespace dbg_internal
