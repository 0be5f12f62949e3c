// keyloft-ini: the editor's core on the command line.
//   keyloft-ini dump FILE   loads FILE as the editor does and prints its tree.
#include <cstdio>
#include <iostream>
#include <string>

#include "Document.h"
#include "Dump.h"
#include "Failure.h"
#include "IniFile.h"

namespace {

// Writes dump lines straight to standard output.
class StdoutTextFile : public keyloft::TextFile {
public:
    void Write(std::string_view text) override { std::fwrite(text.data(), 1, text.size(), stdout); }
    void WriteLineEnd() override { std::fputc('\n', stdout); }
};

int Usage() {
    std::cerr << "usage: keyloft-ini dump FILE\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::string(argv[1]) != "dump") return Usage();
    keyloft::Document doc;
    try {
        keyloft::LoadIniFile(doc, argv[2]);
        StdoutTextFile out;
        keyloft::DumpTreeviewToTextfile(doc, out);
    } catch (const keyloft::Failure& failure) {
        std::fflush(stdout);
        std::cerr << keyloft::FailureReportText(failure.what()) << '\n';
        return 1;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
