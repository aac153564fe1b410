#include "screens/launch_program.h"

#include <cstdio>
#include <cstring>

#include "sites/data_files.h"
#include "records/record_file.h"
#include "platform/win32.h"
#include "tessil/input.h"

namespace {

constexpr size_t kCommandLineSize = 400;

bool aliasRead = false;
char editorAlias[kEditorAliasSize + 1];

void ReadEditorAlias()
{
    if (aliasRead)
        return;
    aliasRead = true;
    std::memset(editorAlias, 0, sizeof editorAlias);
    if (ReadRecord(kEditorAlias, editorAlias, 1, kEditorAliasSize) < 1)
        editorAlias[0] = '\0';
    // A file written by hand ends its path with a line break.
    for (size_t n = std::strlen(editorAlias); n > 0 && static_cast<unsigned char>(editorAlias[n - 1]) <= ' '; --n)
        editorAlias[n - 1] = '\0';
}

void Append(char* line, const char* text)
{
    size_t used = std::strlen(line);
    std::snprintf(line + used, kCommandLineSize - used, "%s", text);
}

bool StatusFileExists()
{
    HANDLE file = CreateFileA(kStatusFil, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

} // namespace

int32_t LaunchProgram(uint16_t count, uint16_t doNotWait, const char* program, const void* arguments)
{
    ReadEditorAlias();
    char name[kCommandLineSize];
    if (std::strstr(program, "editor") || std::strstr(program, "EDITOR"))
        std::snprintf(name, sizeof name, "notepad.exe");
    else
        std::snprintf(name, sizeof name, "%s", program);
    if (editorAlias[0] && std::strstr(name, "notepad.exe"))
        std::snprintf(name, sizeof name, "%s", editorAlias);
    if (std::strcmp(name, "command") == 0)
        std::snprintf(name, sizeof name, "command.com");

    char line[kCommandLineSize];
    std::snprintf(line, sizeof line, "%s", name);
    if (count == 1) {
        Append(line, " ");
        Append(line, static_cast<const char*>(arguments));
    } else if (count >= 2) {
        const auto* list = static_cast<const char* const*>(arguments);
        for (uint16_t i = 0; i < count; ++i) {
            Append(line, " ");
            Append(line, list[i]);
        }
    }

    ClipCursor(nullptr);
    tessil::focusState = 2;
    DeleteFileA(kStatusFil);
    DeleteFileA(kStatusDat);

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    GetStartupInfoA(&startup);
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (doNotWait)
        return 0;

    if (!std::strstr(line, "notepad") && !std::strstr(line, "explore") && !std::strstr(line, "EXPLORE")) {
        // The started program says it has ended by creating STATUS.FIL.
        while (!StatusFileExists()) {
            tessil::mouseButton = 1;
            tessil::SystemRequest(1);
            Sleep(500);
        }
        tessil::mouseButton = 0;
        tessil::focusState = 0;
        return 0;
    }
    // An editor or the browser: until the main window has the focus back.
    while (tessil::focusState == 2 && !tessil::shutdownRequested && tessil::CanWaitForInput())
        tessil::SystemRequest(2);
    tessil::focusState = 0;
    return 0;
}
