// The dialog template and icon group inside the built installer, read back from its resources:
// what the resource compiler made of the script is what players get.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/ScopedWin.h"
#include "ui/DialogIds.h"
#include "support/Files.h"

namespace {

// The template holds UTF-16; the expected texts here are GBK, as the program's own literals.
std::string Gbk(const std::wstring& text) {
    int n = WideCharToMultiByte(936, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) WideCharToMultiByte(936, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

// Reads the fields of an extended dialog template in order.
class TemplateReader {
public:
    explicit TemplateReader(const BYTE* data) : p_(data) {}
    WORD Word() { WORD v; memcpy(&v, p_, 2); p_ += 2; return v; }
    DWORD Dword() { DWORD v; memcpy(&v, p_, 4); p_ += 4; return v; }
    short Short() { return static_cast<short>(Word()); }
    BYTE Byte() { return *p_++; }
    std::wstring Text() {
        std::wstring s;
        for (WORD c = Word(); c != 0; c = Word()) s += static_cast<wchar_t>(c);
        return s;
    }
    // A string, or "#<ordinal>" for the 0xFFFF form; empty for 0x0000.
    std::wstring TextOrOrdinal() {
        WORD first;
        memcpy(&first, p_, 2);
        if (first == 0xFFFF) {
            p_ += 2;
            return L"#" + std::to_wstring(Word());
        }
        return Text();
    }
    void AlignDword(const BYTE* base) {
        while ((p_ - base) % 4 != 0) ++p_;
    }
    void Skip(size_t n) { p_ += n; }

private:
    const BYTE* p_;
};

struct Item {
    DWORD exStyle, style;
    short x, y, cx, cy;
    DWORD id;
    std::wstring cls, text;
};

const BYTE* LoadResourceBytes(HMODULE module, LPCSTR type, int id) {
    HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id), MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    if (!found) return nullptr;
    HGLOBAL loaded = LoadResource(module, found);
    return loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
}

class InstallerResources : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string folder = velsupport::ProgramFolder();
        ASSERT_FALSE(folder.empty());
        *module_.Out() = LoadLibraryExA(velsupport::JoinPath(folder, "VelmoraPatch.exe").c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_TRUE(module_.IsValid()) << "VelmoraPatch.exe beside the test program";
    }
    AutoLibrary module_;
};

}  // namespace

TEST_F(InstallerResources, MainDialogTemplate) {
    const BYTE* data = LoadResourceBytes(module_.Get(), MAKEINTRESOURCEA(5) /* RT_DIALOG */, IDD_MAIN_DIALOG);
    ASSERT_NE(data, nullptr) << "dialog 101 in Chinese (PRC)";
    TemplateReader r(data);
    EXPECT_EQ(r.Word(), 1);       // extended template
    EXPECT_EQ(r.Word(), 0xFFFF);
    r.Dword();                    // help id
    EXPECT_EQ(r.Dword(), 0u);     // extended style
    DWORD style = r.Dword();
    const DWORD wanted = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT;
    EXPECT_EQ(style & wanted, wanted);
    EXPECT_EQ(style & WS_SYSMENU, 0u) << "no system menu, so no close box";
    WORD count = r.Word();
    EXPECT_EQ(r.Short(), 100);
    EXPECT_EQ(r.Short(), 100);
    EXPECT_EQ(r.Short(), 342);
    EXPECT_EQ(r.Short(), 128);
    EXPECT_EQ(r.TextOrOrdinal(), L"");  // menu
    EXPECT_EQ(r.TextOrOrdinal(), L"");  // class
    EXPECT_EQ(Gbk(r.Text()), "Velmora客户端更新包");
    EXPECT_EQ(r.Word(), 9);    // points
    EXPECT_EQ(r.Word(), 400);  // weight
    EXPECT_EQ(r.Byte(), 0);    // italic
    EXPECT_EQ(r.Byte(), DEFAULT_CHARSET);
    EXPECT_EQ(Gbk(r.Text()), "宋体");

    std::vector<Item> items;
    for (WORD i = 0; i < count; ++i) {
        r.AlignDword(data);
        Item item;
        r.Dword();
        item.exStyle = r.Dword();
        item.style = r.Dword();
        item.x = r.Short();
        item.y = r.Short();
        item.cx = r.Short();
        item.cy = r.Short();
        item.id = r.Dword();
        item.cls = r.TextOrOrdinal();
        item.text = r.TextOrOrdinal();
        r.Skip(r.Word());
        items.push_back(item);
    }
    struct Expected {
        DWORD id;
        const wchar_t* cls;  // #128 button, #129 edit, #130 static
        const char* text;
        short x, y, cx, cy;
        DWORD styleBits;
    } expected[] = {
        {IDC_START, L"#128", "开始更新", 241, 110, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP},
        {IDC_CLOSE, L"#128", "关闭", 304, 109, 33, 15, WS_TABSTOP},
        {IDC_CLIENT_DIR, L"#129", "", 4, 78, 250, 12, ES_READONLY | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
        {IDC_BROWSE, L"#128", "重新指定客户端位置", 256, 76, 81, 14, WS_TABSTOP | WS_DISABLED},
        {IDC_VERSION, L"#130", "", 4, 33, 333, 20, SS_CENTER | WS_GROUP},
        {IDC_NOTICE, L"#130", "", 4, 5, 333, 25, WS_GROUP},
        {IDC_STATUS, L"#130", "", 4, 61, 333, 9, SS_CENTER | WS_GROUP},
        {IDC_PROGRESS, L"msctls_progress32", "Progress3", 4, 94, 333, 7, WS_BORDER},
    };
    ASSERT_EQ(items.size(), sizeof(expected) / sizeof(expected[0]));
    for (size_t i = 0; i < items.size(); ++i) {
        const Item& got = items[i];
        const Expected& want = expected[i];
        SCOPED_TRACE("control " + std::to_string(want.id));
        EXPECT_EQ(got.id, want.id);  // template order is the tab order
        EXPECT_EQ(_wcsicmp(got.cls.c_str(), want.cls), 0);  // class names ignore letter case
        EXPECT_EQ(Gbk(got.text), want.text);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.style & want.styleBits, want.styleBits);
        EXPECT_EQ((got.style & WS_DISABLED) != 0, want.id == IDC_BROWSE);
        EXPECT_EQ((got.exStyle & WS_EX_STATICEDGE) != 0, want.id == IDC_NOTICE);
    }
    EXPECT_EQ(items[6].style & SS_TYPEMASK, static_cast<DWORD>(SS_CENTER));
    EXPECT_EQ(items[5].style & SS_TYPEMASK, static_cast<DWORD>(SS_LEFT));
}

TEST_F(InstallerResources, IconGroupHoldsTwo32PixelImages) {
    const BYTE* data = LoadResourceBytes(module_.Get(), MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */, IDI_MAIN_ICON);
    ASSERT_NE(data, nullptr);
    TemplateReader r(data);
    EXPECT_EQ(r.Word(), 0);
    EXPECT_EQ(r.Word(), 1);  // icons
    ASSERT_EQ(r.Word(), 2);
    std::vector<WORD> bits;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(r.Byte(), 32);
        EXPECT_EQ(r.Byte(), 32);
        r.Byte();  // colour count: 0 for 256 colours and more
        r.Byte();
        r.Word();
        bits.push_back(r.Word());
        r.Dword();
        r.Word();
    }
    EXPECT_EQ(bits, (std::vector<WORD>{8, 32}));
}
