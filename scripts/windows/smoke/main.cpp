// Shows a tab widget with Chinese text and a button, saves a picture of the window to the
// file named on the command line, and quits by itself.
// Exit codes: 0 fine, 2 bad arguments, 3 a character is drawn blank,
// 4 the picture could not be written, 5 a static plugin (JPEG, windowsvista) is missing.
#include <QApplication>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Number of dark pixels when text is drawn in black on white.
int ink(const QString &text, const QFont &font)
{
    QImage image(400, 80, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(image.rect(), Qt::AlignLeft | Qt::AlignVCenter, text);
    }
    int dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            dark += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
    }
    return dark;
}

// Characters of text that add no ink when drawn after the ones before them. A glyph
// index alone does not tell: a font can map a character to an empty glyph, and Qt's
// fallback keeps a character in the font of its neighbours (WenQuanYi Micro Hei's "℃"
// is empty, so "温度 25℃" shows no "℃" when that font draws the Chinese).
QString blankCharacters(const QString &text, const QFont &font)
{
    QString blank;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!text.at(i).isSpace() && ink(text.left(i + 1), font) <= ink(text.left(i), font))
            blank += text.at(i);
    }
    return blank;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 2) {
        QTextStream(stderr) << "usage: smoke OUTPUT.png\n";
        return 2;
    }
    const QString output = args.at(1);

    // Wine's default dialog font (Tahoma) has neither Chinese nor "℃": name a font that
    // has "℃" before the Chinese one (Wine sees the Linux system fonts).
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("WenQuanYi Micro Hei")});
    QApplication::setFont(font);

    QTabWidget tabs;
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    auto *label = new QLabel(QStringLiteral("温度 25℃"));
    auto *button = new QPushButton(QStringLiteral("确定 OK"));
    layout->addWidget(label);
    layout->addWidget(button);
    layout->addStretch();
    tabs.addTab(page, QStringLiteral("设置"));
    tabs.addTab(new QWidget, QStringLiteral("Log"));
    tabs.resize(360, 200);
    tabs.show();

    int status = 0;
    QTextStream(stdout) << "platform: " << QGuiApplication::platformName()
                        << ", style: " << QApplication::style()->name() << '\n';
    if (!QImageReader::supportedImageFormats().contains("jpeg")
        || !QStyleFactory::keys().contains(QStringLiteral("windowsvista"), Qt::CaseInsensitive)) {
        QTextStream(stderr) << "missing plugin: image formats "
                            << QImageReader::supportedImageFormats().join(' ') << ", styles "
                            << QStyleFactory::keys().join(QLatin1Char(' ')) << '\n';
        status = 5;
    }
    QString blank;
    for (const QString &text : {tabs.tabText(0), label->text(), button->text()})
        blank += blankCharacters(text, label->font());
    if (!blank.isEmpty()) {
        QTextStream err(stderr);
        err << "drawn blank:";
        for (const QChar c : blank)
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
