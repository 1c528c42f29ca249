#include "lindrel/lindrel_request.h"

#include <gtest/gtest.h>

#include "lindrel/lindrel_task.h"
#include "platform/error.h"
#include "text/unicode.h"

namespace qm {
namespace {

using Strings = std::vector<std::u16string>;

TIniDocument Request(std::string_view text) {
    return TIniDocument::FromBytes(text);
}

TEST(LindrelRequest, SplitsCommandLinesByTheWindowsRules) {
    struct TCase {
        std::u16string_view command;
        Strings arguments;
    };
    const TCase cases[] = {
        {u"\"/opt/My Tools/quillomat\" \"%1\"", {u"/opt/My Tools/quillomat", u"%1"}},
        {u"  plain\targs  ", {u"plain", u"args"}},
        {u"\"\"", {u""}},
        {u"a\"b c\"d", {u"ab cd"}},
        {u"\"say \"\"hi\"\"\"", {u"say \"hi\""}},
        {u"back\\slash \\\\\"quoted arg\" \\\"", {u"back\\slash", u"\\quoted arg", u"\""}},
        {u"\"unterminated arg", {u"unterminated arg"}},
        {u"", {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.command));
        EXPECT_EQ(SplitCommandLine(c.command), c.arguments);
    }
}

TEST(LindrelRequest, ExecQuotesArgumentsForTheDesktop) {
    struct TCase {
        Strings arguments;
        std::string exec;
    };
    const TCase cases[] = {
        {{u"/usr/bin/quillomat", u"%1"}, "/usr/bin/quillomat %f"},
        {{u"/opt/My Tools/quillomat", u"%1"}, "\"/opt/My Tools/quillomat\" %f"},
        {{u"/opt/a$b`c\\d\"e", u"%1"}, "\"/opt/a\\$b\\`c\\\\d\\\"e\" %f"},
        {{u"/opt/100%/q", u"--x=%1"}, "/opt/100%%/q --x=%%1"},
        {{u"/opt/日本/q", u""}, "/opt/日本/q \"\""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.exec);
        EXPECT_EQ(DesktopExec(c.arguments), c.exec);
    }
}

TEST(LindrelRequest, RegisteringRequestGivesBothFiles) {
    const TLindrelRequest request = ReadLindrelRequest(Request(
        "[EXT]\r\nEXT=.QLM\r\nCOMMAND=\"/opt/My Tools/quillomat\" \"%1\"\r\n"
        "FILE_TYPE=Quillomat & <Co>\r\nICON_FILE=/opt/My Tools/quillomat\r\nICON_INDEX=0\r\n"
        "\r\n[TASK]\r\nCLOSE=1\r\nCOMMAND=1\r\n\r\n"));
    EXPECT_EQ(request.Task, TLindrelRequest::TTask::Register);
    EXPECT_EQ(MimeTypeName(request.Extension), "application/x-quillomat-project");
    EXPECT_EQ(MimePackageFileName(request.Extension), "quillomat-qlm.xml");
    EXPECT_EQ(DesktopFileName(request.Extension), "quillomat-qlm.desktop");
    EXPECT_EQ(MimePackageXml(request),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
              "  <mime-type type=\"application/x-quillomat-project\">\n"
              "    <comment>Quillomat &amp; &lt;Co&gt;</comment>\n"
              "    <sub-class-of type=\"text/plain\"/>\n"
              "    <glob pattern=\"*.qlm\"/>\n"
              "    <glob pattern=\"*.QLM\"/>\n"
              "  </mime-type>\n"
              "</mime-info>\n");
    // The Exec value's own backslashes are doubled once more by the file's string escaping.
    EXPECT_EQ(DesktopEntry(request),
              "[Desktop Entry]\n"
              "Type=Application\n"
              "Name=Quillomat\n"
              "Exec=\"/opt/My Tools/quillomat\" %f\n"
              "Icon=quillomat\n"
              "MimeType=application/x-quillomat-project;\n"
              "NoDisplay=true\n"
              "Terminal=false\n");

    TLindrelRequest other = request;
    other.Extension = u".Abc";
    other.Command = u"\"/a\\b\" \"%1\"";
    other.IconFile = u"/usr/share/icons/q.SVG";
    EXPECT_EQ(MimeTypeName(other.Extension), "application/x-quillomat-abc");
    EXPECT_NE(MimePackageXml(other).find("<glob pattern=\"*.ABC\"/>"), std::string::npos);
    EXPECT_NE(DesktopEntry(other).find("\nExec=\"/a\\\\\\\\b\" %f\n"), std::string::npos)
        << DesktopEntry(other);
    EXPECT_NE(DesktopEntry(other).find("\nIcon=/usr/share/icons/q.SVG\n"), std::string::npos);
    // Code points XML cannot hold are replaced, so the package stays readable.
    other.FileType = u"a\uFFFFb\xD800";
    EXPECT_NE(MimePackageXml(other).find("<comment>a\uFFFDb\uFFFD</comment>"), std::string::npos);
}

TEST(LindrelRequest, RemovingRequestNeedsOnlyTheExtension) {
    const TLindrelRequest request =
        ReadLindrelRequest(Request("[EXT]\nEXT=.qlm\n[TASK]\nCLOSE=1\nCOMMAND=2\n"));
    EXPECT_EQ(request.Task, TLindrelRequest::TTask::Remove);
    EXPECT_EQ(request.Extension, u".qlm");
}

TEST(LindrelRequest, BadRequestsAreRefusedWithTheKeyNamed) {
    struct TCase {
        std::string text;
        std::u16string_view named;
    };
    const TCase cases[] = {
        {"", u"[TASK] COMMAND"},
        {"[TASK]\nCOMMAND=3\n[EXT]\nEXT=.QLM\n", u"[TASK] COMMAND"},
        {"[TASK]\nCOMMAND=2\n", u"[EXT] EXT"},
        {"[TASK]\nCOMMAND=2\n[EXT]\nEXT=QLM\n", u"[EXT] EXT"},
        {"[TASK]\nCOMMAND=2\n[EXT]\nEXT=./../x\n", u"[EXT] EXT"},
        {"[TASK]\nCOMMAND=2\n[EXT]\nEXT=.\n", u"[EXT] EXT"},
        {"[TASK]\nCOMMAND=2\n[EXT]\nEXT=.q*\n", u"[EXT] EXT"},
        {"[TASK]\nCOMMAND=1\n[EXT]\nEXT=.QLM\n", u"[EXT] COMMAND"},
        {"[TASK]\nCOMMAND=1\n[EXT]\nEXT=.QLM\nCOMMAND=\"\" \"%1\"\n", u"[EXT] COMMAND"},
        {"[TASK]\nCOMMAND=1\n[EXT]\nEXT=.QLM\nCOMMAND=\"/q\x01\" \"%1\"\n", u"[EXT] COMMAND"},
        {"[TASK]\nCOMMAND=1\n[EXT]\nEXT=.QLM\nCOMMAND=/q\nFILE_TYPE=a\x7f\n", u"[EXT] FILE_TYPE"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            ReadLindrelRequest(Request(c.text));
            ADD_FAILURE() << "no error";
        } catch (const Error& error) {
            EXPECT_NE(error.Message().find(c.named), std::u16string::npos)
                << Utf16ToUtf8(error.Message());
        }
    }
}

TEST(LindrelTask, RemovingTheDefaultKeepsEverythingElse) {
    const std::string_view type = "application/x-quillomat-project";
    const std::string_view entry = "quillomat-qlm.desktop";
    struct TCase {
        std::string before;
        std::string after;
    };
    const TCase cases[] = {
        {"[Default Applications]\napplication/x-quillomat-project=quillomat-qlm.desktop\n"
         "text/plain=gedit.desktop\n",
         "[Default Applications]\ntext/plain=gedit.desktop\n"},
        {"[Added Associations]\r\napplication/x-quillomat-project = other.desktop;"
         "quillomat-qlm.desktop;more.desktop\r\n# note=quillomat-qlm.desktop\r\n",
         "[Added Associations]\r\napplication/x-quillomat-project =other.desktop;more.desktop;"
         "\r\n# note=quillomat-qlm.desktop\r\n"},
        {"application/x-quillomat-project=other.desktop",
         "application/x-quillomat-project="
         "other.desktop"},
        {"application/x-quillomat-project=quillomat-qlm.desktop", ""},
        {"", ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.before);
        EXPECT_EQ(RemoveDefaultApplication(c.before, type, entry), c.after);
    }
}

}  // namespace
}  // namespace qm
