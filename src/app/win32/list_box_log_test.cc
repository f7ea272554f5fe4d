#include "app/win32/list_box_log.h"

#include <gtest/gtest.h>

#include <string>

namespace vm {
namespace {

// A real list box with the result list's styles in a hidden window. Needs
// a display (the Windows test run provides one under Xvfb).
class ListBoxLogTest : public testing::Test {
 protected:
  void SetUp() override {
    parent_ = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0,
                              400, 300, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent_, nullptr) << "no window could be created: no display?";
    list_box_ = CreateWindowExA(
        WS_EX_STATICEDGE, "LISTBOX", "",
        WS_CHILD | WS_VISIBLE | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT |
            LBS_EXTENDEDSEL | LBS_WANTKEYBOARDINPUT | WS_VSCROLL | WS_HSCROLL |
            WS_TABSTOP,
        0, 0, 200, 100, parent_, nullptr, nullptr, nullptr);
    ASSERT_NE(list_box_, nullptr);
  }
  void TearDown() override {
    if (parent_ != nullptr) DestroyWindow(parent_);
  }

  int Extent() {
    return static_cast<int>(
        SendMessageA(list_box_, LB_GETHORIZONTALEXTENT, 0, 0));
  }

  HWND parent_ = nullptr;
  HWND list_box_ = nullptr;
};

TEST_F(ListBoxLogTest, LinesKeepTheirBytesAndOrder) {
  ListBoxView view(list_box_);
  const std::string kGbk =
      "\xb5\xbc\xc8\xeb\xd3\xf2\xc3\xfb:a.com";  // 导入域名
  EXPECT_EQ(view.AddLine("b"), 0);
  EXPECT_EQ(view.AddLine("a"), 1);  // unsorted: appended, not inserted
  EXPECT_EQ(view.AddLine(kGbk), 2);
  EXPECT_EQ(view.AddLine(""), 3);
  EXPECT_EQ(view.LineCount(), 4);
  EXPECT_EQ(view.LineText(0), "b");
  EXPECT_EQ(view.LineText(2), kGbk);
  EXPECT_EQ(view.LineText(3), "");
  EXPECT_EQ(view.LineText(9), "");
  view.DeleteLine(3);
  EXPECT_EQ(view.LineCount(), 3);
  view.Reset();
  EXPECT_EQ(view.LineCount(), 0);
}

TEST_F(ListBoxLogTest, MeasuresWithTheFontTheListBoxDrawsWith) {
  // A stock font, so the test needs no font look-up; any font other than
  // the device context's default shows the difference.
  HFONT font = static_cast<HFONT>(GetStockObject(ANSI_FIXED_FONT));
  ASSERT_NE(font, nullptr);
  SendMessageA(list_box_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  const std::string kLine = "         result line 12345";

  HDC dc = GetDC(list_box_);
  ASSERT_NE(dc, nullptr);
  SIZE plain = {};
  GetTextExtentPoint32A(dc, kLine.data(), static_cast<int>(kLine.size()),
                        &plain);
  HGDIOBJ previous = SelectObject(dc, font);
  SIZE drawn = {};
  GetTextExtentPoint32A(dc, kLine.data(), static_cast<int>(kLine.size()),
                        &drawn);
  SelectObject(dc, previous);
  ReleaseDC(list_box_, dc);
  ASSERT_NE(plain.cx, drawn.cx);  // otherwise the case proves nothing

  ListBoxMeasurer measurer(list_box_);
  int width = 0;
  ASSERT_TRUE(measurer.Measure(kLine, &width));
  EXPECT_EQ(width, drawn.cx);
  SendMessageA(list_box_, WM_SETFONT, 0, FALSE);
}

TEST_F(ListBoxLogTest, ProgressLogExtentCoversTheWidestLine) {
  ListBoxView view(list_box_);
  ListBoxMeasurer measurer(list_box_);
  ProgressLog log(&view, &measurer);
  const std::string kWide(60, 'W');
  int wide_width = 0;
  ASSERT_TRUE(measurer.Measure(kWide, &wide_width));

  // Which line is widest is ProgressLogTest's; here the extent must reach
  // the real list box.
  log.AppendLogLine(kWide);
  EXPECT_EQ(Extent(), wide_width);
}

// The run scrolls to its last line without selecting it (a selected line
// stayed highlighted), and leaves the view where the user scrolled to read.
TEST_F(ListBoxLogTest, TheLastLineIsScrolledToAndNeverSelected) {
  ListBoxView view(list_box_);
  int item_height =
      static_cast<int>(SendMessageA(list_box_, LB_GETITEMHEIGHT, 0, 0));
  ASSERT_GT(item_height, 0);
  RECT client;
  GetClientRect(list_box_, &client);
  const int visible = (client.bottom - client.top) / item_height;
  auto top = [this] {
    return static_cast<int>(SendMessageA(list_box_, LB_GETTOPINDEX, 0, 0));
  };
  for (int i = 0; i < 200; ++i) {
    // As a folder's line replaces its in-progress line.
    view.AddLine("copying");
    view.DeleteLine(i);
    view.AddLine("line " + std::to_string(i));
    view.Select(i);
  }
  EXPECT_EQ(top(), 200 - visible);
  EXPECT_EQ(SendMessageA(list_box_, LB_GETSELCOUNT, 0, 0), 0);
  SendMessageA(list_box_, LB_SETTOPINDEX, 10, 0);  // the user reads
  view.AddLine("line 200");
  view.Select(200);
  EXPECT_EQ(top(), 10);
  SendMessageA(list_box_, LB_SETTOPINDEX, 200, 0);  // and returns to the end
  view.AddLine("line 201");
  view.Select(201);
  EXPECT_EQ(top(), 202 - visible);
}

TEST_F(ListBoxLogTest, SelectedLinesAreCopiedAsUnicodeText) {
  ListBoxView view(list_box_);
  const std::string kGbk = "\xb5\xbc\xc8\xeb\xd3\xf2\xc3\xfb:a.com";
  for (const std::string& line :
       {std::string("one"), kGbk, std::string("three"), std::string("four")}) {
    view.AddLine(line);
  }
  EXPECT_FALSE(CopySelectedLines(list_box_, parent_));  // nothing selected
  SendMessageA(list_box_, LB_SETSEL, TRUE, 1);
  SendMessageA(list_box_, LB_SETSEL, TRUE, 3);
  ASSERT_TRUE(CopySelectedLines(list_box_, parent_));
  ASSERT_TRUE(OpenClipboard(parent_));
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  std::wstring copied =
      data != nullptr ? static_cast<const wchar_t*>(GlobalLock(data)) : L"";
  if (data != nullptr) GlobalUnlock(data);
  CloseClipboard();
  EXPECT_EQ(copied, L"\u5bfc\u5165\u57df\u540d:a.com\r\nfour\r\n");
  SelectAllLines(list_box_);
  EXPECT_EQ(SendMessageA(list_box_, LB_GETSELCOUNT, 0, 0), 4);
}

TEST(ListBoxMeasurerTest, NoDeviceContextMeasuresNothing) {
  // A window handle that no longer exists has no device context.
  HWND gone = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr,
                              nullptr, nullptr, nullptr);
  ASSERT_NE(gone, nullptr);
  DestroyWindow(gone);
  ListBoxMeasurer measurer(gone);
  int width = 7;
  EXPECT_FALSE(measurer.Measure("text", &width));
  EXPECT_EQ(width, 7);
}

}  // namespace
}  // namespace vm
