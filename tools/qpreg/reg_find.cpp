// qpreg query /f: searches key names, value names and data under a key (its
// whole tree with /s) and lists what matches, each key with its matching
// values, then the number of matches.
#include "console.h"
#include "key_walk.h"
#include "messages.h"
#include "operations.h"
#include "registry_access.h"
#include "text_pattern.h"

namespace qpreg {
namespace {

class Search {
  public:
    explicit Search(const Command& command) : command_(command) {
        const SearchOptions& options = command.search;
        pattern_ = {options.pattern, options.caseSensitive, options.exactMatch};
        bool anyField = options.keyNames || options.valueNames || options.data;
        // A type belongs to values: with /t alone, key names are not searched.
        keyNames_ = options.keyNames || (!anyField && !command.typeGiven);
        valueNames_ = options.valueNames || !anyField;
        data_ = options.data || !anyField;
    }

    // Lists one key: its path when its own name matches (never for the key
    // searched from) or any of its values does, followed by those values.
    LSTATUS visit(const KeyPath& path, HKEY key) {
        bool nameMatches = keyNames_ && !IsStart(path) && Matches(pattern_, LastName(path));
        std::vector<RegistryValue> values;
        LSTATUS status = ReadValues(key, &values);
        if (status != ERROR_SUCCESS) return status;
        std::wstring lines;
        for (const RegistryValue& value : values) {
            if (!valueMatches(value)) continue;
            lines += L"    " + DisplayName(value.name) + L"    " + TypeName(value.type) + L"    " +
                     FormatForListing(value) + L"\n";
            ++matches_;
        }
        if (nameMatches) ++matches_;
        if (nameMatches || !lines.empty()) listing_ += path.fullName() + L"\n" + lines + L"\n";
        return ERROR_SUCCESS;
    }

    // Without /s: the key's own values, then those of its subkeys whose names
    // match, without looking inside them.
    LSTATUS visitKeyAndSubkeyNames() {
        KeyHandle key;
        std::vector<std::wstring> subkeys;
        LSTATUS status = OpenKey(command_.key, KEY_READ, &key);
        if (status == ERROR_SUCCESS) status = visit(command_.key, key.get());
        if (status == ERROR_SUCCESS) status = ReadSubkeyNames(key.get(), &subkeys);
        if (status != ERROR_SUCCESS || !keyNames_) return status;
        for (const std::wstring& name : subkeys) {
            if (!Matches(pattern_, name)) continue;
            listing_ += command_.key.child(name).fullName() + L"\n\n";
            ++matches_;
        }
        return ERROR_SUCCESS;
    }

    const std::wstring& listing() const { return listing_; }
    int matches() const { return matches_; }

  private:
    bool IsStart(const KeyPath& path) const { return path.subKey().size() == command_.key.subKey().size(); }

    static std::wstring LastName(const KeyPath& path) {
        const std::wstring& subKey = path.subKey();
        size_t separator = subKey.rfind(L'\\');
        return separator == std::wstring::npos ? subKey : subKey.substr(separator + 1);
    }

    // /t limits the values searched to one type; the name and the data as
    // query lists them are what the pattern is matched against.
    bool valueMatches(const RegistryValue& value) const {
        if (command_.typeGiven && value.type != command_.type) return false;
        return (valueNames_ && Matches(pattern_, DisplayName(value.name))) ||
               (data_ && Matches(pattern_, FormatForListing(value)));
    }

    const Command& command_;
    TextPattern pattern_;
    bool keyNames_, valueNames_, data_;
    std::wstring listing_ = L"\n";
    int matches_ = 0;
};

}  // namespace

int RunFind(const Command& command) {
    Search search(command);
    LSTATUS status = command.recursive
                         ? VisitKeyTree(command.key, [&search](const KeyPath& path,
                                                               HKEY key) { return search.visit(path, key); })
                         : search.visitKeyAndSubkeyNames();
    if (status != ERROR_SUCCESS) return ReportStatus(status);
    PrintOut(search.listing() + L"End of search: " + std::to_wstring(search.matches()) +
             L" match(es) found.\n");
    // As with a search for a value by name, finding nothing is a failure.
    return search.matches() > 0 ? kExitSuccess : kExitFailure;
}

}  // namespace qpreg
