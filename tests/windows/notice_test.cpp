// The notice as a user meets it: found on the screen by its class and caption, read, checked for
// its parts, left alone for a while, then dismissed with OK.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "process_harness.h"

namespace {

// The dialog manager gives a message box's text control this id.
constexpr int kMessageTextId = 0xFFFF;

struct NoticeCase {
  const char* situation;
  std::wstring text;
};

const NoticeCase kNoticeCases[] = {
    {"plain text", L"Die Aktualisierung wurde angehalten."},
    {"empty text", L""},
    {"percent signs and backslashes stay as they are", L"100% %s %n %% \\\\server\\share\\n \\"},
    {"text outside ASCII", L"Gr\u00F6\u00DFe \u00C4nderung \u65E5\u672C"},
    {"two lines", L"Erste Zeile\nZweite Zeile"},
};

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring ClassName(HWND window) {
  wchar_t name[256];
  return std::wstring(name, static_cast<size_t>(GetClassNameW(window, name, 256)));
}

// The visible controls of the notice, by kind.
struct NoticeParts {
  std::vector<HWND> buttons;
  std::vector<HWND> icons;
};

BOOL CALLBACK CollectPart(HWND child, LPARAM parts) {
  if (IsWindowVisible(child) == FALSE) {
    return TRUE;
  }
  auto* collected = reinterpret_cast<NoticeParts*>(parts);
  LONG style = GetWindowLongW(child, GWL_STYLE);
  std::wstring kind = ClassName(child);
  if (_wcsicmp(kind.c_str(), L"Button") == 0) {
    collected->buttons.push_back(child);
  } else if (_wcsicmp(kind.c_str(), L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
    collected->icons.push_back(child);
  }
  return TRUE;
}

// The pixels of a rectangle of `source`, 32 bits each.
std::vector<DWORD> ReadPixels(HDC source, int left, int top, int width, int height) {
  HDC memory = CreateCompatibleDC(source);
  HBITMAP bitmap = CreateCompatibleBitmap(source, width, height);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, source, left, top, SRCCOPY);
  SelectObject(memory, previous);
  BITMAPINFO format{};
  format.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  std::vector<DWORD> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
  GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &format, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  return pixels;
}

long long PixelDistance(const std::vector<DWORD>& left, const std::vector<DWORD>& right) {
  long long distance = 0;
  for (size_t i = 0; i < left.size(); ++i) {
    for (int shift = 0; shift < 24; shift += 8) {
      distance += std::abs(static_cast<int>((left[i] >> shift) & 0xFF) -
                           static_cast<int>((right[i] >> shift) & 0xFF));
    }
  }
  return distance;
}

// Which of the system's stock message icons the icon control shows: each is drawn here over the
// control's background colour, and the one closest to the pixels on the screen wins.
std::wstring StockIconShown(HWND iconControl) {
  RECT area;
  GetWindowRect(iconControl, &area);
  int width = area.right - area.left;
  int height = area.bottom - area.top;
  HDC screen = GetDC(nullptr);
  std::vector<DWORD> shown = ReadPixels(screen, area.left, area.top, width, height);
  DWORD corner = shown.front();  // top-left pixel: the background, in BGRA order
  HBRUSH background =
      CreateSolidBrush(RGB((corner >> 16) & 0xFF, (corner >> 8) & 0xFF, corner & 0xFF));

  const struct {
    const wchar_t* name;
    LPCWSTR id;
  } kStockIcons[] = {{L"error", IDI_ERROR},
                     {L"warning", IDI_WARNING},
                     {L"information", IDI_INFORMATION},
                     {L"question", IDI_QUESTION}};
  std::wstring closest = L"none";
  long long closestDistance = -1;
  for (const auto& stock : kStockIcons) {
    HDC canvas = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(canvas, bitmap);
    RECT whole{0, 0, width, height};
    FillRect(canvas, &whole, background);
    DrawIconEx(canvas, 0, 0, LoadIconW(nullptr, stock.id), width, height, 0, nullptr, DI_NORMAL);
    long long distance = PixelDistance(shown, ReadPixels(canvas, 0, 0, width, height));
    SelectObject(canvas, previous);
    DeleteObject(bitmap);
    DeleteDC(canvas);
    if (closestDistance < 0 || distance < closestDistance) {
      closestDistance = distance;
      closest = stock.name;
    }
  }
  DeleteObject(background);
  ReleaseDC(nullptr, screen);
  return closest;
}

// A window that has just appeared may not be painted or activated yet: look again for a while.
template <typename Condition>
bool Eventually(Condition condition) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (condition()) {
      return true;
    }
    Sleep(100);
  }
  return false;
}

// Windows may refuse a process the foreground even when it meets every condition for it (a user
// who clicks elsewhere meanwhile, say). The helper may take it when the process that started it,
// this test, is in the foreground, or when nothing is: only then is the notice's place in front
// checked.
bool ForegroundIsOursToHandOn() {
  HWND foreground = GetForegroundWindow();
  DWORD owner = 0;
  GetWindowThreadProcessId(foreground, &owner);
  return foreground == nullptr || foreground == GetConsoleWindow() ||
         owner == GetCurrentProcessId();
}

TEST(Notice, ShowsTheTextUntilDismissedWithOk) {
  if (!HasVisibleWindowStation()) {
    GTEST_SKIP() << kNoVisibleWindowStation;
  }
  for (const NoticeCase& row : kNoticeCases) {
    SCOPED_TRACE(row.situation);
    const bool foregroundChecked = ForegroundIsOursToHandOn();
    StartedHelper started = StartHelper({L"--error", row.text});
    if (started.process == nullptr) {
      ADD_FAILURE() << "the helper could not be started: " << HelperPath();
      continue;
    }
    HWND notice = FindNotice(GetProcessId(started.process), kDeadlineMilliseconds);
    if (notice == nullptr) {
      // The rows after it would wait in vain the same way.
      ADD_FAILURE() << "no visible window of class #32770 captioned \"KTQ - Aktualisierung "
                       "angehalten\" appeared within "
                    << kDeadlineMilliseconds << " ms; the rows after this one are not run";
      FinishHelper(started, 0);
      break;
    }

    EXPECT_EQ(WindowText(notice), kNoticeCaption);
    EXPECT_EQ(WindowText(GetDlgItem(notice, kMessageTextId)), row.text);
    if (foregroundChecked) {
      EXPECT_TRUE(Eventually([&] { return GetForegroundWindow() == notice; }))
          << "the notice never came to the foreground";
    } else {
      std::printf(
          "unchecked: whether the notice came to the foreground, since another program's "
          "window had it when the case began\n");
    }
    EXPECT_EQ(GetWindow(notice, GW_OWNER), nullptr);
    EXPECT_EQ(GetWindowLongW(notice, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);

    NoticeParts parts;
    EnumChildWindows(notice, CollectPart, reinterpret_cast<LPARAM>(&parts));
    ASSERT_EQ(parts.buttons.size(), 1u);
    // Found by its id: its caption is in the language of the system's user interface.
    EXPECT_EQ(GetDlgCtrlID(parts.buttons[0]), IDOK);
    ASSERT_EQ(parts.icons.size(), 1u);
    std::wstring icon;
    Eventually([&] { return (icon = StockIconShown(parts.icons[0])) == L"error"; });
    EXPECT_EQ(icon, L"error");

    // It waits for the user: still there a second later.
    EXPECT_EQ(WaitForSingleObject(started.process, 1000), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_NE(IsWindow(notice), FALSE);

    PostMessageW(notice, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(parts.buttons[0]));
    HelperRun run = FinishHelper(started);
    ASSERT_TRUE(run.finished) << run.problem;
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.standardOutput, "");
    EXPECT_EQ(run.standardError, "");
  }
}

// On a window station that is not visible, as in session 0, nobody could dismiss a notice: the
// helper shows none and ends at once. The test makes such a station, with a desktop, for the
// helper alone.
TEST(Notice, NoneWhereNobodyCanSeeIt) {
  const std::wstring stationName = L"tavelune-test-" + std::to_wstring(GetCurrentProcessId());
  HWINSTA station = CreateWindowStationW(stationName.c_str(), 0, WINSTA_ALL_ACCESS, nullptr);
  ASSERT_NE(station, nullptr) << "CreateWindowStationW failed, error " << GetLastError();
  ASSERT_FALSE(HasVisibleWindowStation(station)) << "a new window station should not be visible";
  // A desktop is made on the station the calling process is connected to.
  HWINSTA ours = GetProcessWindowStation();
  SetProcessWindowStation(station);
  HDESK desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  SetProcessWindowStation(ours);
  ASSERT_NE(desktop, nullptr) << "CreateDesktopW failed, error " << GetLastError();

  // A notice there would wait for a click: the helper must end by itself.
  HelperRun run = FinishHelper(
      StartHelper({L"--error", L"Niemand sieht das."}, L"", stationName + L"\\Default"));
  EXPECT_TRUE(run.finished) << run.problem;
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.standardOutput + run.standardError, "");
  CloseDesktop(desktop);
  CloseWindowStation(station);
}

}  // namespace
