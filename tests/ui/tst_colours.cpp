// The node colours as the tree view really paints them: a grab of the view's
// pixels, row by row. Glyphs are anti-aliased, so a text colour counts as
// present when some pixels lie close to it, and as absent when none does.
#include <QApplication>
#include <QHelpEvent>
#include <QImage>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <memory>

#include "DocumentModel.h"
#include "IniTreeView.h"
#include "WindowProbe.h"
#include "document/Document.h"
#include "frmMain.h"

using keyloft::Node;

namespace {

const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);
const QColor kGreen(0, 128, 0);
const QColor kPurple(128, 0, 128);
const QColor kSilver(192, 192, 192);

bool Near(QRgb pixel, const QColor& colour, int tolerance) {
    return std::abs(qRed(pixel) - colour.red()) <= tolerance &&
           std::abs(qGreen(pixel) - colour.green()) <= tolerance &&
           std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
}

// Pixels of `area` within `tolerance` of `colour` on every channel.
int CountNear(const QImage& image, const QRect& area, const QColor& colour, int tolerance) {
    int count = 0;
    const QRect clipped = area.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        for (int x = clipped.left(); x <= clipped.right(); ++x) {
            if (Near(image.pixel(x, y), colour, tolerance)) ++count;
        }
    }
    return count;
}

// The smallest rectangle holding every silver pixel of `area`; empty if none.
QRect SilverBox(const QImage& image, const QRect& area) {
    QRect box;
    const QRect clipped = area.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        for (int x = clipped.left(); x <= clipped.right(); ++x) {
            if (image.pixel(x, y) == kSilver.rgb()) box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

// Close enough for the inner pixels of a glyph's stems, far from every other
// colour of the rule and from anti-aliased blends with white or silver.
constexpr int kTextTolerance = 40;
// Silver pixels of a selected label (at least 40 x 8 pixels of ground) and
// at most those of an unselected row.
constexpr int kSilverArea = 320;
constexpr int kStraySilver = 20;

}  // namespace

class ColoursTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void textColours_data();
    void textColours();
    void onlyTheSelectedLabelIsSilver();
    void indentationOfTheSelectedRowIsNotSilver_data();
    void indentationOfTheSelectedRowIsNotSilver();
    void selectionMovesTheSilver();
    void silverWithoutTheFocus();
    void commentingRecolours();
    void tooltipOfACutText_data();
    void tooltipOfACutText();

private:
    // The view's pixels at the device pixel ratio of 1 the rows are measured in.
    QImage Grab() const;
    QRect Row(const QString& text) const;
    Node* NodeNamed(const QString& text) const;

    QTemporaryDir dir_;
    std::unique_ptr<TForm1> window_;
};

// Every node kind: root, plain and commented sections, a section without
// brackets, plain, commented, malformed and commented malformed keys.
void ColoursTest::init() {
    QVERIFY(dir_.isValid());
    const QString path = dir_.filePath("colours.ini");
    QVERIFY(keyloft::test::WriteFile(
        path, "[Main]\r\nname=value\r\n;commented=1\r\nmalformed\r\n;[Old]\r\n;mode=1\r\n"));
    window_ = std::make_unique<TForm1>(QList<QByteArray>{QFile::encodeName(path)});
    keyloft::Document& doc = window_->document();
    QCOMPARE(doc.Count(), std::size_t{7});
    // Texts the reading does not produce.
    Node* broken = doc.AddChild(doc.First(), "Broken]");
    doc.AddChild(broken, "; note");
    window_->resize(500, 400);
    QVERIFY(keyloft::test::ShowWindow(*window_));
    window_->treeView()->expandAll();
}

void ColoursTest::cleanup() { window_.reset(); }

QImage ColoursTest::Grab() const {
    QWidget* viewport = window_->treeView()->viewport();
    viewport->repaint();
    QImage image = viewport->grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (image.size() != viewport->size()) {
        image = image.scaled(viewport->size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    return image;
}

QRect ColoursTest::Row(const QString& text) const {
    return window_->treeView()->visualRect(window_->model()->indexOf(NodeNamed(text)));
}

Node* ColoursTest::NodeNamed(const QString& text) const {
    return keyloft::test::NodeNamed(*window_, text);
}

void ColoursTest::textColours_data() {
    QTest::addColumn<QString>("node");
    QTest::addColumn<QColor>("colour");

    QTest::newRow("root") << "colours.ini" << kBlack;
    QTest::newRow("section") << "[Main]" << kBlue;
    QTest::newRow("key") << "name=value" << kGreen;
    QTest::newRow("commented key") << ";commented=1" << kPurple;
    QTest::newRow("key without equals sign") << "malformed" << kRed;
    QTest::newRow("commented section") << ";[Old]" << kPurple;
    QTest::newRow("key of a commented section") << ";mode=1" << kPurple;
    QTest::newRow("section without opening bracket") << "Broken]" << kRed;
    QTest::newRow("comment without equals sign") << "; note" << kRed;
}

// Each row, selected and not, holds its rule's colour and none of the others.
void ColoursTest::textColours() {
    QFETCH(QString, node);
    QFETCH(QColor, colour);

    for (const bool selected : {false, true}) {
        window_->selectNode(NodeNamed(selected ? node : QString("colours.ini")));
        if (!selected && node == "colours.ini") window_->selectNode(NodeNamed("[Main]"));
        const QImage image = Grab();
        const QRect row = Row(node);
        QVERIFY(row.isValid());
        const QString where = QString("%1, %2").arg(node, selected ? "selected" : "not selected");
        QVERIFY2(CountNear(image, row, colour, kTextTolerance) >= 5, qPrintable(where));
        for (const QColor& other : {kBlack, kRed, kBlue, kGreen, kPurple}) {
            if (other == colour) continue;
            QVERIFY2(CountNear(image, row, other, kTextTolerance) == 0,
                     qPrintable(where + ": holds " + other.name()));
        }
    }
}

void ColoursTest::onlyTheSelectedLabelIsSilver() {
    window_->selectNode(NodeNamed(";commented=1"));
    const QImage image = Grab();
    const QRect row = Row(";commented=1");

    // The label stands on silver: a filled area, not a few blended pixels.
    const QRect box = SilverBox(image, row);
    QVERIFY2(box.width() >= 40 && box.height() >= row.height() / 2,
             qPrintable(QString("silver box %1x%2 in a row of height %3")
                            .arg(box.width())
                            .arg(box.height())
                            .arg(row.height())));
    QVERIFY(CountNear(image, box, kSilver, 0) >= box.width() * box.height() / 2);
    // The label's area only, not the rest of the row.
    QVERIFY2(box.right() < row.right() - 20,
             qPrintable(QString("silver up to x=%1 of %2").arg(box.right()).arg(row.right())));
    // Its own colour on the silver, not the style's highlighted text.
    QVERIFY(CountNear(image, box, kPurple, kTextTolerance) >= 5);
    const QColor highlighted =
        window_->treeView()->palette().color(QPalette::Active, QPalette::HighlightedText);
    if (highlighted != kPurple) QCOMPARE(CountNear(image, box, highlighted, 8), 0);

    // No other row has a silver area (a blend of black text with the white
    // ground may hit the colour in a few single pixels).
    for (const QString& other : QStringList{"colours.ini", "[Main]", "name=value", "malformed",
                                            ";[Old]", ";mode=1", "Broken]", "; note"}) {
        QVERIFY2(CountNear(image, Row(other), kSilver, 0) < kStraySilver, qPrintable(other));
    }
}

void ColoursTest::indentationOfTheSelectedRowIsNotSilver_data() {
    QTest::addColumn<QString>("node");

    QTest::newRow("section") << "[Main]";
    QTest::newRow("key") << ";commented=1";
}

// The silver ground is the label's: the lines and the expand button in front
// of it stand on the window colour as in every other row.
void ColoursTest::indentationOfTheSelectedRowIsNotSilver() {
    QFETCH(QString, node);

    window_->selectNode(NodeNamed(node));
    const QImage image = Grab();
    const QRect row = Row(node);
    QVERIFY(row.left() > 0);
    const QRect indentation(0, row.top(), row.left(), row.height());
    const int silver = CountNear(image, indentation, kSilver, 0);
    QVERIFY2(silver < kStraySilver,
             qPrintable(QString("%1 silver pixels in the %2 x %3 pixels in front of the label")
                            .arg(silver)
                            .arg(indentation.width())
                            .arg(indentation.height())));
}

void ColoursTest::selectionMovesTheSilver() {
    window_->selectNode(NodeNamed("malformed"));
    QVERIFY(CountNear(Grab(), Row("malformed"), kSilver, 0) >= kSilverArea);

    window_->selectNode(NodeNamed("name=value"));
    const QImage image = Grab();
    QVERIFY(CountNear(image, Row("name=value"), kSilver, 0) >= kSilverArea);
    QVERIFY2(CountNear(image, Row("malformed"), kSilver, 0) < kStraySilver,
             "the node that lost the selection is still silver");
    QVERIFY(CountNear(image, Row("malformed"), kRed, kTextTolerance) >= 5);
    QVERIFY(CountNear(image, Row("name=value"), kGreen, kTextTolerance) >= 5);
}

// The label stays silver while another widget holds the keyboard focus.
void ColoursTest::silverWithoutTheFocus() {
    auto* elsewhere = new QLineEdit(window_.get());
    elsewhere->show();
    window_->selectNode(NodeNamed(";commented=1"));
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    elsewhere->setFocus();
    QTRY_VERIFY(!window_->treeView()->hasFocus());

    const QImage image = Grab();
    const QRect row = Row(";commented=1");
    QVERIFY(CountNear(image, row, kSilver, 0) >= kSilverArea);
    QVERIFY(CountNear(image, row, kPurple, kTextTolerance) >= 5);
}

void ColoursTest::commentingRecolours() {
    Node* key = NodeNamed("name=value");
    window_->selectNode(NodeNamed("[Main]"));
    window_->document().SetText(key, ";name=value");
    QImage image = Grab();
    QVERIFY(CountNear(image, Row(";name=value"), kPurple, kTextTolerance) >= 5);
    QCOMPARE(CountNear(image, Row(";name=value"), kGreen, kTextTolerance), 0);

    window_->document().SetText(key, "name=value");
    image = Grab();
    QVERIFY(CountNear(image, Row("name=value"), kGreen, kTextTolerance) >= 5);
    QCOMPARE(CountNear(image, Row("name=value"), kPurple, kTextTolerance), 0);

    // The root edited to a name without ".ini" turns red.
    window_->document().SetText(window_->document().First(), "colours.cfg");
    image = Grab();
    QVERIFY(CountNear(image, Row("colours.cfg"), kRed, kTextTolerance) >= 5);
    QCOMPARE(CountNear(image, Row("colours.cfg"), kBlack, kTextTolerance), 0);
}

namespace {

// `characters` (one string each) in lines of 100, up to 1000 of them, then
// "…" when there are more: the tooltip of a cut text.
QString InLines(const QStringList& characters) {
    QStringList lines;
    for (qsizetype i = 0; i < std::min<qsizetype>(characters.size(), 1000); i += 100)
        lines << characters.mid(i, 100).join(QString());
    return lines.join('\n') + (characters.size() > 1000 ? QString(QChar(0x2026)) : QString());
}

QStringList Repeated(const QString& character, int times) {
    QStringList list;
    for (int i = 0; i < times; ++i) list << character;
    return list;
}

}  // namespace

void ColoursTest::tooltipOfACutText_data() {
    QTest::addColumn<int>("level");
    QTest::addColumn<QStringList>("characters");  // of the node's text
    QTest::addColumn<bool>("cut");

    QTest::newRow("short key") << 2 << QStringList{"k", "=", "1"} << false;
    QTest::newRow("long section name")
        << 1 << (QStringList{"["} + Repeated("n", 300) + QStringList{"]"}) << true;
    QTest::newRow("10,000-character line")
        << 2 << (QStringList{"k", "="} + Repeated("v", 9998)) << true;
    QTest::newRow("exactly 1,000 characters") << 2 << Repeated("w", 1000) << true;
    QTest::newRow("characters of two units")
        << 2 << Repeated(QString::fromUcs4(U"\U0001F600"), 1001) << true;
}

// A node the tree cuts with "…" shows its whole text in a tooltip, in lines
// of 100 characters up to 1000; a node shown whole has none.
void ColoursTest::tooltipOfACutText() {
    QFETCH(int, level);
    QFETCH(QStringList, characters);
    QFETCH(bool, cut);
    keyloft::Document& doc = window_->document();
    Node* parent = level == 1 ? doc.First() : NodeNamed("[Main]");
    Node* node = doc.AddChild(parent, characters.join(QString()).toStdString());
    auto* view = window_->treeView();
    window_->selectNode(node);
    const QRect rect = view->visualRect(window_->model()->indexOf(node));
    QVERIFY(view->viewport()->rect().contains(rect.center()));
    QToolTip::hideText();

    QHelpEvent event(QEvent::ToolTip, rect.center(), view->viewport()->mapToGlobal(rect.center()));
    QApplication::sendEvent(view->viewport(), &event);
    QCOMPARE(QToolTip::isVisible(), cut);
    if (cut) QCOMPARE(QToolTip::text(), InLines(characters));
    QToolTip::hideText();
}
QTEST_MAIN(ColoursTest)
#include "tst_colours.moc"
