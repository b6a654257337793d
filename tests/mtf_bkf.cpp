// mtf-bkf DIR OUT: writes the tree DIR as one backup set in a .bkf file with the
// tests' writer, for the recovery corpus (bench/corpus). Symbolic links are left
// out: the writer stores folders and files only.
#include "mtf_writer.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    const QString root = QFile::decodeName(argv[1]);
    const QString base = QFileInfo(root).dir().absolutePath() + QLatin1Char('/');
    MtfTest::Writer writer;
    writer.tape(QStringLiteral("corpus"))
        .beginSet(QStringLiteral("corpus"), QStringLiteral("a tree of the corpus"),
            QStringLiteral("corpus"), 1262304000);
    QStringList folders { QFileInfo(root).absoluteFilePath() };
    QDirIterator walk(root, QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden,
        QDirIterator::Subdirectories);
    while (walk.hasNext())
        folders << walk.next();
    folders.sort();
    for (const QString &folder : folders) {
        const QFileInfo info(folder);
        writer.folder(
            info.absoluteFilePath().mid(base.size()), info.lastModified().toSecsSinceEpoch());
        const auto files
            = QDir(folder).entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDir::Name);
        for (const QFileInfo &file : files) {
            QFile in(file.absoluteFilePath());
            if (!in.open(QIODevice::ReadOnly))
                return 1;
            writer.file(file.fileName(), in.readAll(), file.lastModified().toSecsSinceEpoch(),
                file.isWritable() ? 0 : MtfTest::readOnly);
        }
    }
    writer.endSet().endMedia();
    QFile out(QFile::decodeName(argv[2]));
    return out.open(QIODevice::WriteOnly) && out.write(writer.bkf()) >= 0 ? 0 : 1;
}
