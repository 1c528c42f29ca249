#include "platform/auto_run_script.h"

#include "platform/file_system.h"
#include "platform/system_code_page.h"

namespace qm {

std::u16string QuoteAutoRunArgument(std::u16string_view argument, TAutoRunForm form) {
    const char16_t quote = form == TAutoRunForm::WindowsBatch ? u'"' : u'\'';
    std::u16string quoted;
    quoted.reserve(argument.size() + 2);
    quoted += quote;
    for (char16_t c : argument) {
        if (c != quote) {
            quoted += c;
        } else if (form == TAutoRunForm::WindowsBatch) {
            quoted += u"\"\"";
        } else {
            quoted += u"'\\''";  // close the quote, an escaped quote, open again
        }
    }
    quoted += quote;
    return quoted;
}

std::u16string AutoRunFileText(std::u16string_view commandLine, TAutoRunForm form) {
    if (form == TAutoRunForm::PosixShell) {
        // A line break inside single quotes belongs to the argument, so the text stays whole.
        std::u16string text = u"#!/bin/sh\n";
        text += commandLine;
        text += u'\n';
        return text;
    }
    // The batch file holds the text's lines, each ended by CR LF.
    std::u16string text;
    std::size_t i = 0;
    while (i < commandLine.size()) {
        std::size_t end = i;
        while (end < commandLine.size() && commandLine[end] != u'\r' && commandLine[end] != u'\n') {
            ++end;
        }
        text += commandLine.substr(i, end - i);
        text += u"\r\n";
        i = end;
        if (i < commandLine.size() && commandLine[i] == u'\r') ++i;
        if (i < commandLine.size() && commandLine[i] == u'\n') ++i;
    }
    return text;
}

void WriteAutoRunFile(const std::u16string& path, std::u16string_view commandLine,
                      TAutoRunForm form) {
    WriteWholeFile(path, EncodeSystemText(AutoRunFileText(commandLine, form)),
                   form == TAutoRunForm::PosixShell);
}

}  // namespace qm
