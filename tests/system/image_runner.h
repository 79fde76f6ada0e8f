// Starting the real image as a process of its own under Wine and watching
// it from outside: its window, its exit code, its relay trace, its icon.
#pragma once

#include "system/wine_trace.h"

#include "support/processes.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

extern const char kTitle[];
extern const DWORD kWaitMs;

// One start of the image.
struct ImageRun {
    PROCESS_INFORMATION info = {};
    HWND window = nullptr;
};

std::string ImagePath();
unsigned long long ImageBase(const std::string& path);
// Starts `exePath`; with `traced`, Wine adds a relay trace of its calls to the
// runner's trace file.
ImageRun Launch(const std::string& exePath, bool traced);
ImageRun Launch(const std::wstring& exePath, bool traced);
std::wstring Wide(const std::string& text); // from the ANSI code page
// The top-level window titled "Quillmarsh  " that belongs to `run`, once it exists.
HWND WaitForWindow(ImageRun& run);
// The exit code, or STILL_ACTIVE when the process is still running after `ms`.
DWORD WaitForExit(ImageRun& run, DWORD ms);
void End(ImageRun& run);
// The calls that `run`'s main thread made from the image, from the relay trace.
std::vector<TracedCall> Trace(const ImageRun& run);
// Waits until the trace holds at least `count` calls to `function`.
std::vector<TracedCall> WaitForCalls(const ImageRun& run, const std::string& function, size_t count);
// Whether the shell holds an icon with the program's identifier for `window`:
// modifying it with no flags succeeds only while it exists.
bool TrayIconExists(HWND window);

// A folder of its own with a copy of the image; ends what the test started.
class ImageTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    ImageRun& Start(const std::string& exePath, bool traced);
    ImageRun& Start(const std::wstring& exePath, bool traced);
    void Settings(const std::string& text);

    std::string dir_;
    std::string exe_;
    std::deque<ImageRun> runs_; // references to its runs stay valid as it grows
    std::vector<Child> children_;
};

