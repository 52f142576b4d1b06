// Reading the product registry file and the names it gives.
// On the library's ladder: readers; it includes no unit above (scripts/ladder.sh).
#include "ProductRegINIReader.h"

#include <wchar.h>

#include <algorithm>

#include "dbg_defaults.h"
#include "dbg_diagnostics.h"
#include "dbg_registry.h"

namespace dbg_internal {

ProductRegistryNames g_productRegistry = {};

namespace {

const wchar_t kRegistryFileName[] = L"cfg_ProductRegistry.txt";
const wchar_t kConfigFolder[] = L"config/";
const wchar_t kTokenDelimiters[] = L"\t\n";
const wchar_t kCommentChars[] = L"#";

// One name the file may redirect: its key in the file, where the result goes,
// and what stands when the file does not give it.
struct NameSetting {
    const wchar_t* fileKey;
    wchar_t (ProductRegistryNames::*result)[MAX_PATH];
    const wchar_t* defaultName;
};

const NameSetting kNameSettings[] = {
    {L"RegKeyProductCurrentVersion", &ProductRegistryNames::keyPath, kDefaultProductKeyPath},
    {L"RegValueHomeDir", &ProductRegistryNames::homeDir, kValueHomeDir},
    {L"RegValueDebugLevel", &ProductRegistryNames::debugLevel, kValueDebugLevel},
    {L"RegValueDebugLogCount", &ProductRegistryNames::debugLogCount, kValueDebugLogCount},
    {L"RegValueDebugModule", &ProductRegistryNames::debugModule, kValueDebugModule},
    {L"RegValueLogCriticalInfo", &ProductRegistryNames::logCriticalInfo, kValueLogCriticalInfo},
};

// Result buffers keep at most MAX_PATH - 1 characters and are always terminated.
void CopyName(wchar_t (&destination)[MAX_PATH], const wchar_t* source) {
    wcsncpy(destination, source, MAX_PATH);
    destination[MAX_PATH - 1] = L'\0';
}

// The text after a value's opening quote: cut to its first 1023 characters,
// then without the closing quote, when one ends what is left.
std::wstring UnquoteValue(const wchar_t* afterQuote) {
    constexpr size_t kMaxLength = CRegLineReaderTokenCB::kMaxQuotedValueLength;
    std::wstring value(afterQuote);
    if (value.size() > kMaxLength) value.resize(kMaxLength);
    if (!value.empty() && value.back() == L'"') value.pop_back();
    return value;
}

// A path of at most MAX_PATH - 1 characters; a longer one is cut, as the
// fixed path buffers of the Windows API would cut it.
std::wstring CandidatePath(const std::wstring& directory, const wchar_t* folder) {
    std::wstring path = directory + folder + kRegistryFileName;
    if (path.size() > MAX_PATH - 1) path.resize(MAX_PATH - 1);
    return path;
}

// Loads the first registry file that opens: config/ in the directory, then
// the directory itself. Without a directory the bare name is tried, which
// resolves against the current directory. Gives the file's path, or empty.
std::wstring LoadRegistryFile(CProductRegINIReader& reader, const wchar_t* directory) {
    if (!directory) return reader.LoadFile(kRegistryFileName) ? kRegistryFileName : std::wstring();
    for (const wchar_t* folder : {kConfigFolder, L""}) {
        std::wstring path = CandidatePath(directory, folder);
        if (reader.LoadFile(path.c_str())) return path;
    }
    return std::wstring();
}

// A name comes from the file only when the file was found and gives the key a
// non-empty value; otherwise its default stands.
void ApplyNames(bool fileFound, const CRegLineReaderCB& lines, ProductRegistryNames& names) {
    for (const NameSetting& setting : kNameSettings) {
        std::wstring value;
        const bool fromFile = fileFound && LookupValue(lines, setting.fileKey, value) && !value.empty();
        CopyName(names.*setting.result, fromFile ? value.c_str() : setting.defaultName);
    }
}

}  // namespace

std::wstring LoadProductRegistryNames(const wchar_t* executableDirectory, ProductRegistryNames& names) {
    CProductRegINIReader reader;
    const std::wstring file = LoadRegistryFile(reader, executableDirectory);
    CRegLineReaderCB lines;
    reader.IterateEachLine(lines);
    ApplyNames(!file.empty(), lines, names);
    return file;
}

void SetDefaultProductRegistryNames(ProductRegistryNames& names) {
    ApplyNames(false, CRegLineReaderCB(), names);
}

void LoadProductRegistry() {
    wchar_t directory[MAX_PATH] = {};
    LoadProductRegistryNames(GetProcessDirectory(directory, MAX_PATH) ? directory : nullptr,
                             g_productRegistry);
}

bool GetProcessDirectory(wchar_t* buffer, int size) {
    if (buffer == nullptr || size <= 0) return false;
    // One element more than the API may fill keeps the path terminated even
    // when GetModuleFileNameW truncates without a terminator.
    wchar_t path[MAX_PATH + 1] = {};
    if (GetModuleFileNameW(nullptr, path, MAX_PATH) == 0) return false;
    wchar_t* lastSeparator = wcsrchr(path, L'/');
    if (lastSeparator == nullptr) return false;
    lastSeparator[1] = L'\0';
    wcsncpy(buffer, path, static_cast<size_t>(size));
    buffer[size - 1] = L'\0';
    return true;
}

// ---- CProductRegINIReader ----------------------------------------------------

CProductRegINIReader::CIterateEachLineCallback::~CIterateEachLineCallback() = default;
CProductRegINIReader::CIterateEachTokenCallback::~CIterateEachTokenCallback() = default;

CProductRegINIReader::CProductRegINIReader() : text_(kTextCapacity, L'\0') {}

bool CProductRegINIReader::LoadFile(const wchar_t* path) {
    // UTF-8 whatever the process's locale, so the file reads the same on every
    // machine; text mode drops the carriage return of a CRLF.
    // Only a regular file is read, and only its first MiB.
    FILE* file = _wfopen(path, L"r, ccs=UTF-8");
    const bool opened = file != nullptr;
    if (!opened && !IsMissingFileError(GetLastError()))
        SayFileRefused("the product registry file", path, "is not read", GetLastError());
    if (opened) {
        std::vector<wchar_t> piece(kMaxPieceLength + 1, L'\0');
        while (fgetws(piece.data(), static_cast<int>(piece.size()), file) != nullptr) {
            if (!StorePiece(piece.data())) break;
        }
        fclose(file);
    }
    // Leaves no output of the process's own streams buffered behind the
    // configuration load, whether or not the file was there.
    _flushall();
    return opened;
}

// The first piece that does not fit ends the reading: the rest of the file is
// ignored, even pieces short enough to fit.
bool CProductRegINIReader::StorePiece(const wchar_t* piece) {
    const int length = static_cast<int>(wcslen(piece));
    if (textUsed_ + length + 1 > kTextCapacity) return false;
    lineOffsets_.push_back(textUsed_);
    std::copy(piece, piece + length + 1, text_.begin() + textUsed_);
    textUsed_ += length + 1;
    return true;
}

void CProductRegINIReader::IterateEachLine(CIterateEachLineCallback& lines) const {
    lines.OnBegin(static_cast<int>(lineOffsets_.size()));
    for (size_t index = 0; index < lineOffsets_.size(); ++index) {
        if (!lines.OnLine(static_cast<int>(index), &text_[lineOffsets_[index]])) break;
    }
    lines.OnEnd();
}

void CProductRegINIReader::CIterateEachLineCallback::IterateEachToken(CIterateEachTokenCallback& tokens) {
    const wchar_t* cursor = tokens.GetLine();
    const wchar_t* delimiters = tokens.GetDelimiters();
    if (cursor == nullptr || delimiters == nullptr) return;
    for (int index = 0;; ++index) {
        cursor += wcsspn(cursor, delimiters);
        if (*cursor == L'\0') return;
        const size_t length = wcscspn(cursor, delimiters);
        const std::wstring token(cursor, length);
        cursor += length;
        if (!tokens.OnToken(index, token.c_str())) return;
    }
}

bool CProductRegINIReader::CIterateEachTokenCallback::IsCommentToken(const wchar_t* token,
                                                                     const wchar_t* commentChars) const {
    return wcscspn(token, commentChars) == 0;
}

// ---- The key/value callbacks ---------------------------------------------------

bool CRegLineReaderCB::OnLine(int /*index*/, const wchar_t* line) {
    CRegLineReaderTokenCB tokens(line);
    IterateEachToken(tokens);
    if (!tokens.GetKey().empty() && !tokens.GetValue().empty()) {
        values_[tokens.GetKey()] = tokens.GetValue();
    }
    return true;  // a malformed line never stops the walk
}

CRegLineReaderTokenCB::CRegLineReaderTokenCB(const wchar_t* line)
    : CIterateEachTokenCallback(line, kTokenDelimiters) {}

bool CRegLineReaderTokenCB::OnToken(int index, const wchar_t* token) {
    switch (index) {
        case 0:
            if (IsCommentToken(token, kCommentChars)) return false;
            key_ = token;
            return true;
        case 1:
            value_ = token[0] == L'"' ? UnquoteValue(token + 1) : std::wstring(token);
            return true;
        default:
            return false;  // tokens after the value are ignored
    }
}

bool LookupValue(const CRegLineReaderCB& lines, const wchar_t* key, std::wstring& value) {
    const auto& values = lines.GetValues();
    const auto found = values.find(key);
    if (found == values.end()) return false;
    value = found->second;
    return true;
}

}  // namespace dbg_internal
