// Runs a fuzz target once on every file of the folders (or the files) given, as CI does
// with each corpus: no fuzzing, only the inputs kept, each of which must pass.

#include "FuzzSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <vector>

// Targets that need no set-up leave this undefined.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

QStringList inputsOf(const QString& path) {
    if (!QFileInfo(path).isDir())
        return {path};
    QStringList files;
    const QDir dir(path);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden, QDir::Name))
        files.append(dir.filePath(name));
    return files;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS-FOLDER-OR-FILE...\n", argv[0]);
        return 2;
    }
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const QString& input : inputsOf(QString::fromLocal8Bit(argv[i]))) {
            QFile file(input);
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(input));
                return 1;
            }
            // A buffer of exactly the input's size, as libFuzzer gives, so that the sanitizers
            // see a read beyond its end.
            const QByteArray bytes = file.readAll();
            const std::vector<std::uint8_t> exact(bytes.cbegin(), bytes.cend());
            std::fprintf(stderr, "%s\n", qPrintable(input));
            LLVMFuzzerTestOneInput(exact.data(), exact.size());
            ++replayed;
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
