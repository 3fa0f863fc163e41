// What the progress tests share: a host with the extension's stored state,
// a trace catcher, and ways to look at a progress window as the user sees it.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "npvrgpc/module_state.h"
#include "support/fake_host.h"
#include "support/module_host.h"
#include "support/trace_capture.h"

// A screen capture of one window (or control), 32 bits per pixel, top-down.
struct WindowPixels {
    int nWidth = 0;
    int nHeight = 0;
    std::vector<DWORD> pixels;  // 0x00RRGGBB
    DWORD At(int x, int y) const { return pixels[static_cast<size_t>(y) * nWidth + x]; }
    int Count(DWORD rgb) const;
    // Columns that hold at least one pixel of the colour.
    int Columns(DWORD rgb) const;
    // Writes a 24-bit BMP.
    bool SaveBmp(const std::string& path) const;
};

// Copies what is on the screen inside a window's client area (bClient) or
// its whole window rectangle; with bRedraw the window is repainted first.
WindowPixels CaptureWindow(HWND hWnd, bool bClient, bool bRedraw = true);

// The bar's fill in pixels: filled columns over the painted width.
struct BarFill {
    int nFilledColumns = 0;
    int nFilledPixels = 0;
    int nPaintWidth = 0;   // client width - 8
    int nPaintHeight = 0;  // client height - 4
};
BarFill MeasureBar(HWND hDlg);

std::string ItemText(HWND hDlg, int nId);
std::string WindowText(HWND hWnd);
// The caption of dialog template 102 in one language, as UTF-16 (empty when
// the library carries no such template).
std::wstring TemplateCaption(WORD wLang);
std::wstring WindowTextW(HWND hWnd);

// The colour of the bar's fill as the capture reports it (0x00RRGGBB).
enum : DWORD { GPC_FILL_RGB = 0x00000080 };

class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Sets "LoggingURL" and friends so a failure report is built; the
    // address is a closed local port, so the request fails at once.
    void EnableReports();
    // Messages GPC_WM_CANCEL_DOWNLOAD the host window received.
    int CancelMessages() const;
    // Whether a failure report with this error code was sent.
    bool ReportSent(int nCode) const;

    FakeHost host;
    TraceCapture trace;
};
