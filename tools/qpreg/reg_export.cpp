// qpreg export: writes a key and everything below it to a .reg file. The
// whole tree is read before the file is touched, so a registry error leaves
// an existing file as it was.
#include "console.h"
#include "file_io.h"
#include "key_walk.h"
#include "messages.h"
#include "operations.h"
#include "reg_file.h"
#include "registry_access.h"

namespace qpreg {

LSTATUS ReadKeyTree(const KeyPath& path, std::vector<RegFileKey>* keys) {
    return VisitKeyTree(path, [keys](const KeyPath& keyPath, HKEY key) {
        RegFileKey fileKey{keyPath, {}};
        LSTATUS status = ReadValues(key, &fileKey.values);
        keys->push_back(std::move(fileKey));
        return status;
    });
}

int RunExport(const Command& command) {
    std::vector<RegFileKey> keys;
    LSTATUS status = ReadKeyTree(command.key, &keys);
    if (status != ERROR_SUCCESS) return ReportStatus(status);

    std::wstring fileName = WideFromUtf8(command.file);
    if (!command.force && FileExists(command.file)) {
        Answer answer = AskYesNo(L"File " + fileName + L" already exists. Overwrite the file (Yes/No)?");
        if (answer != Answer::kYes) return ReportNotConfirmed(answer, L"/y");
    }
    std::wstring error;
    if (!WriteWholeFile(command.file, WriteRegFile(keys), &error))
        return ReportError(L"Cannot write the file " + fileName + L": " + error);
    return ReportSuccess();
}

}  // namespace qpreg
