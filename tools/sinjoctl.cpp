// sinjoctl: drives the jukebox from a shell through its automation object (the ProgID "Sinjo.Door").
//
//   sinjoctl QueueSong 42 true        call a method (arguments as text; the jukebox converts them)
//   sinjoctl GetQSong 0 name          a method's value is printed
//   sinjoctl AudioSource              read a property
//   sinjoctl AudioSource=original     set a property
//   sinjoctl --id 10 42 0             call by dispatch id
//   sinjoctl --list                   members, dispatch ids, parameters and help strings
//
// It finds the class from the ProgID in classes.reg of the profile folder (ProgID -> CLSID ->
// LocalServer32), connects to the jukebox that runs for that profile, and when none runs starts
// LocalServer32 with "-Embedding" (an automation server without window or catalogue, which ends when
// sinjoctl has finished). Exit status: 0 when the call succeeded; 1 when it failed (the HRESULT is printed
// in hexadecimal with its name); 2 for a command line it cannot read.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Com.h"
#include "platform/Dispatch.h"
#include "platform/FileSystem.h"
#include "platform/LocalClient.h"

namespace {

using platform::HRESULT;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr const wchar_t* kDefaultProgId = L"Sinjo.Door";

const char kUsage[] =
    "usage: sinjoctl [--progid PROGID] MEMBER [ARGUMENT...]   call a method or read a property\n"
    "       sinjoctl [--progid PROGID] PROPERTY=VALUE         set a property\n"
    "       sinjoctl [--progid PROGID] --id DISPID [ARGUMENT...]\n"
    "                                                         call a member by its dispatch id\n"
    "       sinjoctl [--progid PROGID] --list                 list the members with their ids and help\n"
    "       sinjoctl [--progid PROGID] --names                member names only (for shell completion)\n"
    "       sinjoctl --completion bash                        print a bash completion script\n"
    "       sinjoctl --help\n"
    "\n"
    "Arguments are text; the jukebox converts each to its parameter's type (\"42\" to a number, \"true\",\n"
    "\"false\", \"-1\" or \"0\" to a boolean). Member names ignore letter case. The value is printed on\n"
    "standard output. Examples:\n"
    "  sinjoctl QueueSong 42 true\n"
    "  sinjoctl GetQSong 0 name\n"
    "  sinjoctl AudioSource\n"
    "  sinjoctl AudioSource=original\n"
    "  sinjoctl --id 10 42 0\n"
    "\n"
    "The class is found through classes.reg in the profile folder ($SINJO_HOME, else ~/.config/sinjo);\n"
    "when no jukebox runs, its program is started with -Embedding and ends after the call.\n"
    "Exit status: 0 when the call succeeded, 1 when it failed (its HRESULT is printed), 2 for bad usage.\n";

const char kBashCompletion[] =
    "# bash completion for sinjoctl: source this file, or put it in\n"
    "# ~/.local/share/bash-completion/completions/sinjoctl\n"
    "_sinjoctl() {\n"
    "  local cur=\"${COMP_WORDS[COMP_CWORD]}\"\n"
    "  if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
    "    local names\n"
    "    names=\"$(sinjoctl --names 2>/dev/null)\"\n"
    "    COMPREPLY=( $(compgen -W \"$names --list --names --id --progid --help --completion\" -- \"$cur\") )\n"
    "  elif [ \"${COMP_WORDS[1]}\" = \"--completion\" ]; then\n"
    "    COMPREPLY=( $(compgen -W \"bash\" -- \"$cur\") )\n"
    "  fi\n"
    "}\n"
    "complete -F _sinjoctl sinjoctl\n";

int Usage(const std::string& problem) {
    std::fprintf(stderr, "sinjoctl: %s\n\n%s", problem.c_str(), kUsage);
    return kExitUsage;
}

// What the command line asks for.
struct Command {
    std::wstring progId = kDefaultProgId;
    enum class Kind { call_by_name, call_by_id, put, list, names } kind = Kind::call_by_name;
    std::wstring member;  // call_by_name, put
    platform::DISPID id = 0;
    std::vector<std::wstring> args;
};

bool ParseDispid(const char* text, platform::DISPID* id) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < INT32_MIN || value > INT32_MAX) return false;
    *id = static_cast<platform::DISPID>(value);
    return true;
}

// Parses argv; on a problem returns false with a sentence in *problem.
bool ParseCommand(int argc, char** argv, Command* command, std::string* problem) {
    int i = 1;
    if (i + 1 < argc && std::strcmp(argv[i], "--progid") == 0) {
        command->progId = platform::FromUtf8(argv[i + 1]);
        i += 2;
    }
    if (i >= argc) {
        *problem = "name a member to call";
        return false;
    }
    const std::string first = argv[i];
    if (first == "--list" || first == "--names") {
        if (i + 1 != argc) {
            *problem = first + " takes no arguments";
            return false;
        }
        command->kind = first == "--list" ? Command::Kind::list : Command::Kind::names;
        return true;
    }
    if (first == "--id") {
        if (i + 1 >= argc || !ParseDispid(argv[i + 1], &command->id)) {
            *problem = "--id needs a dispatch id (a whole number), for example: sinjoctl --id 10 42 0";
            return false;
        }
        command->kind = Command::Kind::call_by_id;
        i += 2;
    } else if (first.empty() || first[0] == '-') {
        *problem = "unknown option \"" + first + "\"";
        return false;
    } else if (const size_t equals = first.find('='); equals != std::string::npos) {
        if (equals == 0) {
            *problem = "\"" + first + "\" names no property before \"=\"";
            return false;
        }
        if (i + 1 != argc) {
            *problem = "setting a property takes one value: PROPERTY=VALUE, with nothing after it";
            return false;
        }
        command->kind = Command::Kind::put;
        command->member = platform::FromUtf8(first.substr(0, equals));
        command->args.push_back(platform::FromUtf8(first.substr(equals + 1)));
        return true;
    } else {
        command->kind = Command::Kind::call_by_name;
        command->member = platform::FromUtf8(first);
        ++i;
    }
    for (; i < argc; ++i) command->args.push_back(platform::FromUtf8(argv[i]));
    return true;
}

std::string TypeName(platform::VARTYPE vt) {
    switch (vt) {
        case platform::VT_I4: return "LONG";
        case platform::VT_BSTR: return "BSTR";
        case platform::VT_BOOL: return "VARIANT_BOOL";
        case platform::VT_VARIANT: return "VARIANT";
        default: return platform::VarTypeName(vt);
    }
}

// "GetSetting(BSTR name, [optional] BSTR default_value) -> BSTR"
std::string Signature(const platform::FuncDesc& f) {
    std::string inputs;
    std::string output;
    for (const platform::ParamDesc& p : f.params) {
        if (p.IsRetval()) {
            output = " -> " + TypeName(p.vt);
            continue;
        }
        if (!inputs.empty()) inputs += ", ";
        if (p.IsOptional()) inputs += "[optional] ";
        inputs += TypeName(p.vt) + " " + platform::ToUtf8(p.name);
    }
    const std::string name = platform::ToUtf8(f.name);
    if (f.invkind == platform::INVOKE_PROPERTYGET) return name + output;
    if (f.invkind == platform::INVOKE_PROPERTYPUT) return name + " = " + inputs.substr(0, inputs.find(' '));
    return name + "(" + inputs + ")" + output;
}

const char* KindName(uint16_t invkind) {
    switch (invkind) {
        case platform::INVOKE_PROPERTYGET: return "get";
        case platform::INVOKE_PROPERTYPUT: return "put";
        default: return "method";
    }
}

int List(platform::IDispatch& object, bool namesOnly) {
    platform::ITypeInfo* info = nullptr;
    const HRESULT hr = object.GetTypeInfo(0, platform::LOCALE_USER_DEFAULT, &info);
    if (platform::FAILED(hr) || info == nullptr) {
        std::fprintf(stderr, "sinjoctl: the object gives no type information: %s\n",
                     platform::DescribeHresult(hr).c_str());
        return kExitFailed;
    }
    const platform::TypeLibDesc& lib = info->Library();
    const platform::InterfaceDesc& iface = info->Interface();
    if (namesOnly) {
        std::set<std::wstring_view> seen;
        for (const platform::FuncDesc& f : iface.funcs) {
            if (seen.insert(f.name).second) std::printf("%s\n", platform::ToUtf8(f.name).c_str());
        }
    } else {
        std::printf("%s %u.%u (%s), interface %s (%s)\n", platform::ToUtf8(lib.name).c_str(), lib.majorVersion,
                    lib.minorVersion, platform::ToUtf8(lib.help).c_str(), platform::ToUtf8(iface.name).c_str(),
                    platform::ToUtf8(iface.help).c_str());
        std::printf("%4s  %-6s  %-60s  %s\n", "id", "kind", "member", "help");
        for (const platform::FuncDesc& f : iface.funcs) {
            std::printf("%4d  %-6s  %-60s  %s\n", f.memid, KindName(f.invkind), Signature(f).c_str(),
                        platform::ToUtf8(f.help).c_str());
        }
    }
    info->Release();
    return kExitOk;
}

void PrintValue(const platform::Variant& value) {
    switch (value.vt) {
        case platform::VT_EMPTY: return;
        case platform::VT_BOOL: std::printf("%s\n", value.boolVal != 0 ? "true" : "false"); return;
        default: {
            platform::Variant text;
            if (platform::SUCCEEDED(platform::VariantChangeType(&text, value, platform::VT_BSTR))) {
                std::printf("%s\n", platform::ToUtf8(text.bstrVal).c_str());
            } else {
                std::printf("(a value of type %s)\n", platform::VarTypeName(value.vt).c_str());
            }
        }
    }
}

int ReportFailure(const std::string& what, HRESULT hr, const platform::InvokeResult* call) {
    std::string line = "sinjoctl: " + what + " failed: " + platform::DescribeHresult(hr);
    if (call != nullptr && (hr == platform::DISP_E_TYPEMISMATCH || hr == platform::DISP_E_OVERFLOW ||
                            hr == platform::DISP_E_PARAMNOTOPTIONAL)) {
        line += " (argument " + std::to_string(call->argErr + 1) + ")";
    }
    const std::string detail = platform::GetLastErrorDescription();
    if (!detail.empty()) line += ": " + detail;
    if (hr == platform::DISP_E_UNKNOWNNAME || hr == platform::DISP_E_MEMBERNOTFOUND) {
        line += " (sinjoctl --list shows the members)";
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    return kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--completion") == 0) {
        if (argc != 3 || std::strcmp(argv[2], "bash") != 0) return Usage("--completion knows one shell: bash");
        std::fputs(kBashCompletion, stdout);
        return kExitOk;
    }
    Command command;
    std::string problem;
    if (!ParseCommand(argc, argv, &command, &problem)) return Usage(problem);

    platform::CLSID clsid;
    if (platform::FAILED(platform::CLSIDFromProgID(command.progId, &clsid))) {
        std::fprintf(stderr,
                     "sinjoctl: %s is not registered in %s/classes.reg (register the jukebox with: Sinjo "
                     "-Regserver)\n",
                     platform::ToUtf8(command.progId).c_str(), platform::ProfileFolder().c_str());
        return kExitFailed;
    }
    platform::ComPtr<platform::IDispatch> object;
    const HRESULT created = platform::CoCreateInstance(clsid, nullptr, platform::CLSCTX_LOCAL_SERVER,
                                                       platform::IID_IDispatch, object.ReleaseAndGetVoidAddress());
    if (platform::FAILED(created)) {
        return ReportFailure("reaching " + platform::ToUtf8(command.progId), created, nullptr);
    }

    if (command.kind == Command::Kind::list || command.kind == Command::Kind::names) {
        return List(*object.Get(), command.kind == Command::Kind::names);
    }
    std::vector<platform::Variant> args;
    for (const std::wstring& a : command.args) args.push_back(platform::Variant::Bstr(a));
    // Without arguments a name may be a method or a property to read, as script's "door.Name" is.
    platform::WORD flags = platform::DISPATCH_METHOD;
    if (args.empty()) flags |= platform::DISPATCH_PROPERTYGET;
    if (command.kind == Command::Kind::put) flags = platform::DISPATCH_PROPERTYPUT;

    platform::InvokeResult result;
    std::string what;
    if (command.kind == Command::Kind::call_by_id) {
        result = platform::InvokeById(*object.Get(), command.id, flags, args);
        what = "dispatch id " + std::to_string(command.id);
    } else {
        result = platform::InvokeByName(*object.Get(), command.member, flags, args);
        what = platform::ToUtf8(command.member);
    }
    if (platform::FAILED(result.hr)) return ReportFailure(what, result.hr, &result);
    PrintValue(result.value);
    return kExitOk;
}
