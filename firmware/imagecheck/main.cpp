// Checks a firmware image before the build puts it into the program: a file that is not
// exactly the expected number of sound Intel HEX records, ending with the end-of-file record,
// would be sent to an adapter and leave it without working firmware.
//
// Usage: check-firmware-image IMAGE [COPY]
// Exit code 0 when the image is sound (and, with COPY, has been copied there), else 1 with
// the reason on standard error.

#include "firmware/HexImage.h"

#include <QFile>
#include <QSaveFile>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: check-firmware-image IMAGE [COPY]\n");
        return 2;
    }
    const QString path = QFile::decodeName(argv[1]);
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "firmware image %s: %s\n", argv[1], qPrintable(in.errorString()));
        return 1;
    }
    const QByteArray text = in.readAll();
    const QString fault = clarow::ImageFault(clarow::SplitRecords(text));
    if (!fault.isEmpty()) {
        std::fprintf(stderr, "firmware image %s refused: it %s\n", argv[1], qPrintable(fault));
        return 1;
    }
    if (argc == 3) {
        QSaveFile out(QFile::decodeName(argv[2]));
        if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit()) {
            std::fprintf(stderr, "cannot write %s: %s\n", argv[2], qPrintable(out.errorString()));
            return 1;
        }
    }
    return 0;
}
