#include "command_line.h"

#include <set>

#include "messages.h"
#include "registry_value.h"
#include "text_encoding.h"

namespace qpreg {
namespace {

enum class Option { kValue, kEmptyValue, kAllValues, kRecursive, kForce, kType, kData, kSeparator, kView };

struct OptionSyntax {
    const wchar_t* name;  // without the leading "/" or "-"
    Option option;
    bool takesArgument;
};

// The arguments that come before the options, in this order.
enum class Positionals { kKey, kKeyAndFile, kFile };

struct OperationSyntax {
    Operation operation;
    Positionals positionals;
    const wchar_t* name;
    std::vector<OptionSyntax> options;
};

// /reg:32 and /reg:64 pick a registry view on Windows; this registry has one,
// so scripts written for reg.exe may pass them and they change nothing.
const OptionSyntax kView32 = {L"reg:32", Option::kView, false};
const OptionSyntax kView64 = {L"reg:64", Option::kView, false};

const OperationSyntax kOperations[] = {
    {Operation::kQuery,
     Positionals::kKey,
     L"query",
     {{L"v", Option::kValue, true},
      {L"ve", Option::kEmptyValue, false},
      {L"s", Option::kRecursive, false},
      kView32,
      kView64}},
    {Operation::kAdd,
     Positionals::kKey,
     L"add",
     {{L"v", Option::kValue, true},
      {L"ve", Option::kEmptyValue, false},
      {L"t", Option::kType, true},
      {L"d", Option::kData, true},
      {L"s", Option::kSeparator, true},
      {L"f", Option::kForce, false},
      kView32,
      kView64}},
    {Operation::kDelete,
     Positionals::kKey,
     L"delete",
     {{L"v", Option::kValue, true},
      {L"ve", Option::kEmptyValue, false},
      {L"va", Option::kAllValues, false},
      {L"f", Option::kForce, false},
      kView32,
      kView64}},
    {Operation::kExport,
     Positionals::kKeyAndFile,
     L"export",
     {{L"y", Option::kForce, false}, kView32, kView64}},
    {Operation::kImport, Positionals::kFile, L"import", {kView32, kView64}},
};

bool IsHelpSwitch(const std::wstring& arg) {
    return arg == L"/?" || arg == L"-?" || arg == L"--help" || arg == L"-h";
}

const OperationSyntax* FindOperation(const std::wstring& name) {
    for (const OperationSyntax& syntax : kOperations)
        if (_wcsicmp(syntax.name, name.c_str()) == 0) return &syntax;
    return nullptr;
}

const OptionSyntax* FindOption(const OperationSyntax& syntax, const std::wstring& arg) {
    if (arg.size() < 2 || (arg[0] != L'/' && arg[0] != L'-')) return nullptr;
    for (const OptionSyntax& option : syntax.options)
        if (_wcsicmp(option.name, arg.c_str() + 1) == 0) return &option;
    return nullptr;
}

bool ApplyOption(Option option, const std::wstring& argument, Command* command) {
    switch (option) {
        case Option::kValue:
        case Option::kEmptyValue:
            command->valueNamed = true;
            command->valueName = argument;
            return true;
        case Option::kAllValues:
            command->allValues = true;
            return true;
        case Option::kRecursive:
            command->recursive = true;
            return true;
        case Option::kForce:
            command->force = true;
            return true;
        case Option::kType:
            command->typeGiven = true;
            return TypeFromName(argument, &command->type);
        case Option::kData:
            command->dataGiven = true;
            command->data = argument;
            return true;
        case Option::kSeparator:
            command->separator = argument;
            return true;
        case Option::kView:
            return true;
    }
    return false;
}

// Each of these reports a fault and fails the parse.
bool InvalidSyntax(const wchar_t* operation) {
    ReportInvalidSyntax(operation);
    return false;
}

bool InvalidKeyName(const wchar_t* operation) {
    ReportInvalidKeyName(operation);
    return false;
}

bool UnsupportedType(const std::wstring& name) {
    ReportError(L"Unsupported type \"" + name +
                L"\". Use REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY or "
                L"REG_NONE.");
    return false;
}

// reg.exe takes one value selector at most, and a one-character separator.
bool OptionsFitTogether(const std::set<Option>& given, const Command& command) {
    int selectors = static_cast<int>(given.count(Option::kValue) + given.count(Option::kEmptyValue) +
                                     given.count(Option::kAllValues));
    if (selectors > 1) return false;
    if (given.count(Option::kSeparator) && command.separator.size() != 1) return false;
    return true;
}

bool ParseOptions(const OperationSyntax& syntax, const std::vector<std::wstring>& args, size_t first,
                  Command* command) {
    std::set<Option> given;
    for (size_t i = first; i < args.size(); ++i) {
        const OptionSyntax* option = FindOption(syntax, args[i]);
        if (!option || given.count(option->option)) return InvalidSyntax(syntax.name);
        given.insert(option->option);
        std::wstring argument;
        if (option->takesArgument) {
            if (++i == args.size()) return InvalidSyntax(syntax.name);
            argument = args[i];
        }
        if (!ApplyOption(option->option, argument, command)) return UnsupportedType(argument);
    }
    if (!OptionsFitTogether(given, *command)) return InvalidSyntax(syntax.name);
    return true;
}

bool ParseOperation(const OperationSyntax& syntax, const std::vector<std::wstring>& args,
                    const std::vector<std::string>& rawArgs, Command* command) {
    command->operation = syntax.operation;
    bool takesKey = syntax.positionals != Positionals::kFile;
    bool takesFile = syntax.positionals != Positionals::kKey;
    size_t next = 1;
    if (args.size() < next + takesKey + takesFile) return InvalidSyntax(syntax.name);
    if (takesKey && !KeyPath::Parse(args[next++], true, &command->key)) return InvalidKeyName(syntax.name);
    // A file name is taken as typed: on Linux it is bytes, not text.
    if (takesFile) command->file = rawArgs[next++];
    return ParseOptions(syntax, args, next, command);
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& rawArgs, Command* command) {
    std::vector<std::wstring> args;
    for (const std::string& arg : rawArgs) args.push_back(WideFromUtf8(arg));
    if (args.empty()) return InvalidSyntax(L"");
    if (IsHelpSwitch(args[0]) && args.size() == 1) {
        command->operation = Operation::kHelp;
        return true;
    }
    const OperationSyntax* syntax = FindOperation(args[0]);
    if (!syntax) return InvalidSyntax(L"");
    if (args.size() == 2 && IsHelpSwitch(args[1])) {
        command->operation = Operation::kHelp;
        command->helpTopic = syntax->name;
        return true;
    }
    return ParseOperation(*syntax, args, rawArgs, command);
}

}  // namespace qpreg
