#include "command_line.h"

#include <cwctype>
#include <set>

#include "console.h"
#include "messages.h"
#include "registry_value.h"
#include "text_encoding.h"

namespace qpreg {
namespace {

enum class Option {
    kValue,
    kEmptyValue,
    kAllValues,
    kRecursive,
    kForce,
    kType,
    kData,
    kSeparator,
    kView,
    kFind,
    kKeyNamesOnly,
    kDataOnly,
    kCaseSensitive,
    kExactMatch
};

enum class Argument { kNone, kRequired, kOptional };

struct OptionSyntax {
    const wchar_t* name;  // without the leading "/" or "-"
    Option option;
    Argument argument;
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
const OptionSyntax kView32 = {L"reg:32", Option::kView, Argument::kNone};
const OptionSyntax kView64 = {L"reg:64", Option::kView, Argument::kNone};

const OperationSyntax kOperations[] = {
    {Operation::kQuery,
     Positionals::kKey,
     L"query",
     // query /v takes no name when it asks a search to look at value names.
     {{L"v", Option::kValue, Argument::kOptional},
      {L"ve", Option::kEmptyValue, Argument::kNone},
      {L"s", Option::kRecursive, Argument::kNone},
      {L"f", Option::kFind, Argument::kRequired},
      {L"k", Option::kKeyNamesOnly, Argument::kNone},
      {L"d", Option::kDataOnly, Argument::kNone},
      {L"c", Option::kCaseSensitive, Argument::kNone},
      {L"e", Option::kExactMatch, Argument::kNone},
      {L"t", Option::kType, Argument::kRequired},
      kView32,
      kView64}},
    {Operation::kAdd,
     Positionals::kKey,
     L"add",
     {{L"v", Option::kValue, Argument::kRequired},
      {L"ve", Option::kEmptyValue, Argument::kNone},
      {L"t", Option::kType, Argument::kRequired},
      {L"d", Option::kData, Argument::kRequired},
      {L"s", Option::kSeparator, Argument::kRequired},
      {L"f", Option::kForce, Argument::kNone},
      kView32,
      kView64}},
    {Operation::kDelete,
     Positionals::kKey,
     L"delete",
     {{L"v", Option::kValue, Argument::kRequired},
      {L"ve", Option::kEmptyValue, Argument::kNone},
      {L"va", Option::kAllValues, Argument::kNone},
      {L"f", Option::kForce, Argument::kNone},
      kView32,
      kView64}},
    {Operation::kExport,
     Positionals::kKeyAndFile,
     L"export",
     {{L"y", Option::kForce, Argument::kNone}, kView32, kView64}},
    {Operation::kImport, Positionals::kFile, L"import", {kView32, kView64}},
};

// /? and /h, with / or -, h in any case, as reg.exe takes them; and --help.
bool IsHelpSwitch(const std::wstring& arg) {
    if (arg == L"--help") return true;
    return arg.size() == 2 && (arg[0] == L'/' || arg[0] == L'-') &&
           (arg[1] == L'?' || arg[1] == L'h' || arg[1] == L'H');
}

bool IsVersionSwitch(const std::wstring& arg) { return arg == L"--version"; }

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

// A search option turns the query into a search.
SearchOptions& Search(Command* command) {
    command->search.active = true;
    return command->search;
}

// hasArgument is false only for an optional argument left out.
bool ApplyOption(Option option, bool hasArgument, const std::wstring& argument, Command* command) {
    switch (option) {
        case Option::kValue:
            if (!hasArgument) {
                Search(command).valueNames = true;
                return true;
            }
            command->valueNamed = true;
            command->valueName = argument;
            return true;
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
            if (command->operation == Operation::kQuery) Search(command);
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
        case Option::kFind:
            Search(command).pattern = argument;
            return true;
        case Option::kKeyNamesOnly:
            Search(command).keyNames = true;
            return true;
        case Option::kDataOnly:
            Search(command).data = true;
            return true;
        case Option::kCaseSensitive:
            Search(command).caseSensitive = true;
            return true;
        case Option::kExactMatch:
            Search(command).exactMatch = true;
            return true;
    }
    return false;
}

// Each of these reports a fault and fails the parse.
bool InvalidSyntax(const wchar_t* operation) {
    ReportInvalidSyntax(operation);
    return false;
}

// HKLMSOFTWARENorlake: a key typed without quotes, whose backslashes the
// shell removed. Said after reg.exe's own message.
bool InvalidKeyName(const wchar_t* operation, const std::wstring& key) {
    ReportInvalidKeyName(operation);
    std::wstring upper;
    for (wchar_t c : key) upper += static_cast<wchar_t>(std::towupper(c));
    bool underRoot = upper.rfind(L"HKLM", 0) == 0 || upper.rfind(L"HKEY_LOCAL_MACHINE", 0) == 0;
    if (underRoot && key.find(L'\\') == std::wstring::npos && upper != L"HKLM" &&
        upper != L"HKEY_LOCAL_MACHINE")
        PrintError(
            L"The key has no backslash: the shell removes unquoted backslashes. Quote the key:\n"
            L"  qpreg " +
            std::wstring(operation) + L" \"HKLM\\SOFTWARE\\...\"\n");
    return false;
}

bool UnsupportedType(const std::wstring& name) {
    ReportError(L"Unsupported type \"" + name +
                L"\". Use REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY or "
                L"REG_NONE.");
    return false;
}

// reg.exe takes one value selector at most, and a one-character separator;
// a search looks at every value, so it names none.
bool OptionsFitTogether(const std::set<Option>& given, const Command& command) {
    int selectors = static_cast<int>(given.count(Option::kValue) + given.count(Option::kEmptyValue) +
                                     given.count(Option::kAllValues));
    if (selectors > 1) return false;
    if (given.count(Option::kSeparator) && command.separator.size() != 1) return false;
    if (command.search.active && command.valueNamed) return false;
    return true;
}

// An optional argument is left out when the option ends the line or another
// option follows.
bool ArgumentFollows(const OperationSyntax& syntax, const OptionSyntax& option,
                     const std::vector<std::wstring>& args, size_t next) {
    if (option.argument == Argument::kNone) return false;
    if (option.argument == Argument::kRequired) return true;
    return next < args.size() && !FindOption(syntax, args[next]);
}

bool ParseOptions(const OperationSyntax& syntax, const std::vector<std::wstring>& args, size_t first,
                  Command* command) {
    std::set<Option> given;
    for (size_t i = first; i < args.size(); ++i) {
        const OptionSyntax* option = FindOption(syntax, args[i]);
        if (!option || given.count(option->option)) return InvalidSyntax(syntax.name);
        given.insert(option->option);
        std::wstring argument;
        bool hasArgument = ArgumentFollows(syntax, *option, args, i + 1);
        if (hasArgument) {
            if (++i == args.size()) return InvalidSyntax(syntax.name);
            argument = args[i];
        }
        if (!ApplyOption(option->option, hasArgument, argument, command)) return UnsupportedType(argument);
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
    if (takesKey && !KeyPath::Parse(args[next], true, &command->key))
        return InvalidKeyName(syntax.name, args[next]);
    if (takesKey) ++next;
    // A file name is taken as typed: on Linux it is bytes, not text.
    if (takesFile) command->file = rawArgs[next++];
    return ParseOptions(syntax, args, next, command);
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& rawArgs, Command* command) {
    std::vector<std::wstring> args;
    for (const std::string& arg : rawArgs) args.push_back(WideFromUtf8(arg));
    if (args.empty()) return InvalidSyntax(L"");
    if (args.size() == 1 && (IsHelpSwitch(args[0]) || IsVersionSwitch(args[0]))) {
        command->operation = IsHelpSwitch(args[0]) ? Operation::kHelp : Operation::kVersion;
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
