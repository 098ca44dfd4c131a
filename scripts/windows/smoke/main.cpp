// Shows a tab widget with Chinese text and a button, saves a picture of the window to the
// file named on the command line, and quits by itself.
// Exit codes: 0 fine, 2 bad arguments, 3 a character has no glyph in any font,
// 4 the picture could not be written.
#include <QApplication>
#include <QFile>
#include <QGlyphRun>
#include <QLabel>
#include <QPushButton>
#include <QRawFont>
#include <QTabWidget>
#include <QTextLayout>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Characters that no font can draw (glyph 0 after Qt's font fallback); the fonts that
// drew the others are added to *families.
QString missingGlyphs(const QString& text, const QFont& font, QStringList* families) {
    QString missing;
    for (const QChar c : text) {
        if (c.isSpace()) continue;
        QTextLayout layout(QString(c), font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        bool drawn = false;
        for (const QGlyphRun& run : layout.glyphRuns()) {
            families->append(run.rawFont().familyName());
            const QList<quint32> glyphs = run.glyphIndexes();
            drawn = !glyphs.isEmpty() && !glyphs.contains(0u);
        }
        if (!drawn) missing += c;
    }
    return missing;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 2) {
        QTextStream(stderr) << "usage: smoke OUTPUT.png\n";
        return 2;
    }
    const QString output = args.at(1);

    QTabWidget tabs;
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* label = new QLabel(QStringLiteral("温度 25℃"));
    auto* button = new QPushButton(QStringLiteral("确定 OK"));
    layout->addWidget(label);
    layout->addWidget(button);
    layout->addStretch();
    tabs.addTab(page, QStringLiteral("设置"));
    tabs.addTab(new QWidget, QStringLiteral("Log"));
    tabs.resize(360, 200);
    tabs.show();

    int status = 0;
    QStringList families;
    const QString missing =
        missingGlyphs(QStringLiteral("设置 温度 25℃ 确定 OK"), label->font(), &families);
    families.removeDuplicates();
    QTextStream(stdout) << "platform: " << QGuiApplication::platformName()
                        << "\nfonts: " << families.join(QStringLiteral(", ")) << '\n';
    if (!missing.isEmpty()) {
        QTextStream err(stderr);
        err << "no glyph for:";
        for (const QChar c : missing)
            err << QStringLiteral(" U+%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
        err << '\n';
        status = 3;
    }

    QTimer::singleShot(500, &tabs, [&] {
        if (!tabs.grab().save(output, "PNG")) {
            QTextStream(stderr) << "cannot write " << output << '\n';
            status = 4;
        }
    });
    QTimer::singleShot(2000, &app, &QApplication::quit);
    const int rc = app.exec();
    return rc != 0 ? rc : status;
}
