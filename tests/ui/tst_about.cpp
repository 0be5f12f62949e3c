// GUI tests of the About box. Pointer events go through the box's window
// (QTEST_QPA_MOUSE_HANDLING), so Qt's own hit testing and enter/leave
// tracking decide which control gets them, as with a real mouse.
#define QTEST_QPA_MOUSE_HANDLING
#include <QCursor>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "About.h"

namespace {

// Positions in the box's client area. Panel children sit at the panel's
// place (9, 8) plus their own.
QPoint onPanel(int x, int y) { return {9 + x, 8 + y}; }

const QPoint kImage3Rest(128, 233);
const QPoint kImage3Centre = kImage3Rest + QPoint(24, 24);
const QPoint kCommentsCentre = onPanel(3 + 136, 69 + 6);
const QPoint kImage1Centre = onPanel(71 + 72, 95 + 52);
// On the window's own background, away from every control.
const QPoint kNeutral(4, 260);

enum class CloseRequest { CloseBox, ClickImage3 };

}  // namespace

Q_DECLARE_METATYPE(CloseRequest)

class TestAbout : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fixedSizeAndFrame();
    void icons_data();
    void icons();
    void logoIsCutFromTopLeft();
    void headingClearsTheBevels();

    void linkHover_data();
    void linkHover();
    void closePictureHover_data();
    void closePictureHover();
    void unmatchedEnterAndLeave();
    void inertPlaces_data();
    void inertPlaces();
    void linkClicks_data();
    void linkClicks();

    void keysDoNothing_data();
    void keysDoNothing();
    void closing_data();
    void closing();
    void execReturnsAndShowsAgainCentredAtRest();

private:
    template <class T = QWidget>
    T* control(const char* name) const {
        return box->findChild<T*>(QString::fromLatin1(name));
    }
    void moveTo(const QPoint& point) { QTest::mouseMove(box.get(), point); }
    void clickAt(const QPoint& point) { QTest::mouseClick(box.get(), Qt::LeftButton, {}, point); }

    std::unique_ptr<TAboutBox> box;
    QList<QUrl> opened;
};

void TestAbout::initTestCase() {
    // Keep a real pointer (under Xvfb) away from where the box appears.
    QCursor::setPos(0, 0);
}

void TestAbout::init() {
    opened.clear();
    box = std::make_unique<TAboutBox>();
    box->setUrlOpener([this](const QUrl& url) { opened.append(url); });
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    // Qt drops a move to where the pointer already is, and the last test may
    // have left it at kNeutral: step aside first so the new window is entered.
    moveTo(kNeutral + QPoint(0, 1));
    moveTo(kNeutral);
}

void TestAbout::cleanup() { box.reset(); }

void TestAbout::fixedSizeAndFrame() {
    if (box->devicePixelRatio() != 1) QSKIP("sizes are checked at a device pixel ratio of 1");
    QCOMPARE(box->size(), QSize(298, 287));
    QCOMPARE(box->minimumSize(), QSize(298, 287));
    QCOMPARE(box->maximumSize(), QSize(298, 287));
    QCOMPARE(box->windowTitle(), QStringLiteral("Keyloft 1.0"));
    const Qt::WindowFlags flags = box->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!box->isSizeGripEnabled());
}

void TestAbout::icons_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");

    for (const char* toolbarIcon : {"open", "new-section", "new-key", "delete", "expand-all",
                                    "collapse-all", "find", "new-ini", "save", "close-ini", "about",
                                    "exit", "print", "edit-line", "remove-comment", "comment"})
        QTest::newRow(toolbarIcon) << QString::fromLatin1(toolbarIcon) << QSize(32, 32);
    QTest::newRow("keyloft") << "keyloft" << QSize(64, 64);
    QTest::newRow("logo") << "logo" << QSize(147, 110);
    QTest::newRow("frame") << "frame" << QSize(155, 115);
    QTest::newRow("check") << "check" << QSize(48, 48);
}

void TestAbout::icons() {
    QFETCH(QString, name);
    QFETCH(QSize, size);

    QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(name));
    QVERIFY(renderer.isValid());
    QCOMPARE(renderer.defaultSize(), size);

    // Something is drawn, and the toolbar icons leave their corners clear
    // so that they sit on any toolbar colour.
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    int opaque = 0;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) opaque += qAlpha(image.pixel(x, y)) == 255;
    QVERIFY(opaque > size.width() * size.height() / 10);
    if (size == QSize(32, 32)) QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
}

void TestAbout::logoIsCutFromTopLeft() {
    if (box->devicePixelRatio() != 1) QSKIP("pixels are compared at a device pixel ratio of 1");
    auto* image1 = control<QLabel>("Image1");
    QVERIFY(image1);

    QImage logo(147, 110, QImage::Format_ARGB32_Premultiplied);
    logo.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/icons/logo.svg"));
    QPainter painter(&logo);
    renderer.render(&painter);
    painter.end();
    const QImage expected = logo.copy(0, 0, 145, 105).convertToFormat(QImage::Format_RGB32);

    const QImage shown = image1->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), QSize(145, 105));
    int differing = 0;
    for (int y = 0; y < 105; ++y)
        for (int x = 0; x < 145; ++x) differing += shown.pixel(x, y) != expected.pixel(x, y);
    QCOMPARE(differing, 0);
}

// The white heading starts on the panel's bevels: its letters and their
// shadow must leave the bevels' white rows (the panel's third and fourth)
// whole, with a row of the panel's own colour between them and the letters.
void TestAbout::headingClearsTheBevels() {
    if (box->devicePixelRatio() != 1) QSKIP("pixels are counted at a device pixel ratio of 1");
    auto* panel = control<QFrame>("Panel1");
    QVERIFY(panel);
    const QImage shown = panel->grab().toImage().convertToFormat(QImage::Format_RGB32);
    // White pixels of a row, inside the bevels' side columns.
    const auto whites = [&](int y) {
        int count = 0;
        for (int x = 4; x < shown.width() - 4; ++x)
            count += shown.pixel(x, y) == qRgb(255, 255, 255);
        return count;
    };
    const int inner = shown.width() - 8;
    QCOMPARE(whites(2), inner);
    QCOMPARE(whites(3), inner);
    QCOMPARE(whites(4), 0);
    int letters = 0;
    for (int y = 5; y < 32; ++y) letters += whites(y);
    QVERIFY2(letters > 100, qPrintable(QString::number(letters)));
}

void TestAbout::linkHover_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<bool>("turnsBlue");

    QTest::newRow("text link") << QByteArray("Comments") << kCommentsCentre << true;
    QTest::newRow("text link, left end") << QByteArray("Comments") << onPanel(4, 70) << true;
    QTest::newRow("picture link through the frame")
        << QByteArray("Image1") << kImage1Centre << false;
    QTest::newRow("picture link under the frame's edge")
        << QByteArray("Image1") << onPanel(71, 95) << false;
}

void TestAbout::linkHover() {
    QFETCH(QByteArray, name);
    QFETCH(QPoint, point);
    QFETCH(bool, turnsBlue);

    auto* link = control<QLabel>(name.constData());
    QVERIFY(link);
    auto* comments = control<QLabel>("Comments");
    const QColor before = comments->palette().color(QPalette::WindowText);
    QVERIFY(link->toolTip().isEmpty());

    for (int round = 0; round < 3; ++round) {
        moveTo(point);
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(comments->palette().color(QPalette::WindowText),
                 turnsBlue ? QColor(0, 0, 255) : before);

        moveTo(kNeutral);
        QCOMPARE(link->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(comments->palette().color(QPalette::WindowText),
                 turnsBlue ? QColor(Qt::black) : before);
    }
    QVERIFY(opened.isEmpty());
}

void TestAbout::closePictureHover_data() {
    QTest::addColumn<QList<QPoint>>("path");
    QTest::addColumn<QList<bool>>("pressed");

    QTest::newRow("in and out") << QList<QPoint>{kImage3Centre, kNeutral}
                                << QList<bool>{true, false};

    QList<QPoint> back;
    QList<bool> backPressed;
    for (int i = 0; i < 25; ++i) {
        back << kImage3Centre << kNeutral;
        backPressed << true << false;
    }
    QTest::newRow("25 times in and out") << back << backPressed;

    QTest::newRow("moving about inside")
        << QList<QPoint>{kImage3Centre, kImage3Centre + QPoint(5, 3), kImage3Rest + QPoint(10, 40),
                         kImage3Centre, kNeutral}
        << QList<bool>{true, true, true, true, false};

    // Entering at the top-left edge: the move takes the picture from under
    // the pointer, so the next move within that edge is a leave, and so on.
    // (Two points, since a move to where the pointer is counts for nothing.)
    const QPoint edge = kImage3Rest + QPoint(1, 1);
    const QPoint edge2 = kImage3Rest + QPoint(0, 1);
    QTest::newRow("edge at top-left") << QList<QPoint>{edge, edge2, edge, edge2, kNeutral}
                                      << QList<bool>{true, false, true, false, false};
    QTest::newRow("edge, then inside") << QList<QPoint>{edge, kImage3Centre, edge, kNeutral}
                                       << QList<bool>{true, true, false, false};

    QTest::newRow("out to the panel")
        << QList<QPoint>{kImage3Centre, kImage1Centre, kImage3Centre, kCommentsCentre}
        << QList<bool>{true, false, true, false};
}

void TestAbout::closePictureHover() {
    QFETCH(QList<QPoint>, path);
    QFETCH(QList<bool>, pressed);
    QCOMPARE(path.size(), pressed.size());

    QWidget* image3 = control("image3");
    QVERIFY(image3);
    QCOMPARE(image3->pos(), kImage3Rest);

    for (qsizetype step = 0; step < path.size(); ++step) {
        moveTo(path[step]);
        const QString where = QStringLiteral("step %1").arg(step);
        QVERIFY2(image3->pos() == (pressed[step] ? kImage3Rest + QPoint(2, 2) : kImage3Rest),
                 qPrintable(where));
        QVERIFY2(
            image3->cursor().shape() == (pressed[step] ? Qt::PointingHandCursor : Qt::ArrowCursor),
            qPrintable(where));
    }
    QCOMPARE(image3->pos(), kImage3Rest);
    QVERIFY(box->isVisible());
}

void TestAbout::unmatchedEnterAndLeave() {
    // The platform may deliver a leave the box has already acted on (after
    // hiding) or repeat an enter; the picture still never strays more than
    // its 2 pixels from rest.
    QWidget* image3 = control("image3");
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(image3, &leave);
    QCOMPARE(image3->pos(), kImage3Rest);
    for (int i = 0; i < 2; ++i) {
        const QPoint local(24, 24);
        QEnterEvent enter(local, kImage3Centre, image3->mapToGlobal(local));
        QApplication::sendEvent(image3, &enter);
        QCOMPARE(image3->pos(), kImage3Rest + QPoint(2, 2));
    }
    QApplication::sendEvent(image3, &leave);
    QApplication::sendEvent(image3, &leave);
    QCOMPARE(image3->pos(), kImage3Rest);
}

void TestAbout::inertPlaces_data() {
    QTest::addColumn<QPoint>("point");

    QTest::newRow("frame left of the picture") << onPanel(62, 150);
    QTest::newRow("frame below the picture") << onPanel(140, 208);
    QTest::newRow("notice line") << onPanel(139, 40);
    QTest::newRow("heading") << onPanel(139, 10);
    QTest::newRow("description") << onPanel(139, 59);
    QTest::newRow("panel bevel") << onPanel(1, 1);
    QTest::newRow("window below the panel") << QPoint(40, 250);
}

void TestAbout::inertPlaces() {
    QFETCH(QPoint, point);

    auto* comments = control<QLabel>("Comments");
    const QColor textBefore = comments->palette().color(QPalette::WindowText);
    const QPoint image3Before = control("image3")->pos();

    moveTo(point);
    QWidget* under = box->childAt(point);
    const QWidget* target = under ? under : box.get();
    QCOMPARE(target->cursor().shape(), Qt::ArrowCursor);
    clickAt(point);

    QVERIFY(opened.isEmpty());
    QVERIFY(box->isVisible());
    QCOMPARE(comments->palette().color(QPalette::WindowText), textBefore);
    QCOMPARE(control("image3")->pos(), image3Before);
    QCOMPARE(control("Image1")->cursor().shape(), Qt::ArrowCursor);
}

void TestAbout::linkClicks_data() {
    QTest::addColumn<QPoint>("point");

    QTest::newRow("text link") << kCommentsCentre;
    QTest::newRow("picture link, centre") << kImage1Centre;
    QTest::newRow("picture link, under the frame's edge") << onPanel(72, 96);
    QTest::newRow("picture link, bottom-right") << onPanel(71 + 144, 95 + 104);
}

void TestAbout::linkClicks() {
    QFETCH(QPoint, point);

    moveTo(point);
    clickAt(point);
    QCOMPARE(opened, QList<QUrl>{QUrl(QString::fromLatin1(kKeyloftWebAddress))});
    QVERIFY(box->isVisible());

    // A press that ends elsewhere is no click.
    QTest::mousePress(box.get(), Qt::LeftButton, {}, point);
    QTest::mouseRelease(box.get(), Qt::LeftButton, {}, kNeutral);
    QCOMPARE(opened.size(), 1);
}

void TestAbout::keysDoNothing_data() {
    QTest::addColumn<int>("key");

    QTest::newRow("Escape") << int(Qt::Key_Escape);
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter") << int(Qt::Key_Enter);
}

void TestAbout::keysDoNothing() {
    QFETCH(int, key);

    QSignalSpy finished(box.get(), &QDialog::finished);
    QWidget* receiver = box->focusWidget() ? box->focusWidget() : box.get();
    QTest::keyClick(receiver, Qt::Key(key));
    QCoreApplication::processEvents();
    QVERIFY(box->isVisible());
    QCOMPARE(finished.size(), 0);
}

void TestAbout::closing_data() {
    QTest::addColumn<CloseRequest>("request");
    QTest::addColumn<bool>("pointerOnPicture");

    QTest::newRow("close box, pointer elsewhere") << CloseRequest::CloseBox << false;
    QTest::newRow("close box, pointer on the picture") << CloseRequest::CloseBox << true;
    QTest::newRow("click on the picture") << CloseRequest::ClickImage3 << true;
}

void TestAbout::closing() {
    QFETCH(CloseRequest, request);
    QFETCH(bool, pointerOnPicture);

    QWidget* image3 = control("image3");
    QSignalSpy finished(box.get(), &QDialog::finished);
    if (pointerOnPicture) {
        moveTo(kImage3Centre);
        QCOMPARE(image3->pos(), kImage3Rest + QPoint(2, 2));
    }

    if (request == CloseRequest::CloseBox)
        box->close();  // what the close button and Alt+F4 ask for
    else
        clickAt(kImage3Centre);

    // At rest at once, without waiting for any leave event.
    QCOMPARE(image3->pos(), kImage3Rest);
    QVERIFY(!box->isVisible());
    QCOMPARE(finished.size(), 1);
    QVERIFY(opened.isEmpty());

    // Showing again: at rest, and the hover works as before.
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    QCOMPARE(image3->pos(), kImage3Rest);
    moveTo(kNeutral);
    moveTo(kImage3Centre);
    QCOMPARE(image3->pos(), kImage3Rest + QPoint(2, 2));
    moveTo(kNeutral);
    QCOMPARE(image3->pos(), kImage3Rest);
}

void TestAbout::execReturnsAndShowsAgainCentredAtRest() {
    box->hide();
    QWidget* image3 = control("image3");
    QScreen* screen = box->screen();
    QVERIFY(screen);
    const QPoint screenCentre = screen->availableGeometry().center();

    // Each showing: note where it stands, hover the picture, click it.
    struct Showing {
        bool exposed = false;
        QPoint centre;
        QPoint image3;
    };
    QList<Showing> showings;
    QTimer guard;  // a failed click must not leave the test hanging in exec()
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, box.get(), &QWidget::close);
    for (int i = 0; i < 2; ++i) {
        box->move(0, 0);  // the box is centred again on every showing
        QTimer::singleShot(0, box.get(), [&] {
            const bool exposed = QTest::qWaitForWindowExposed(box.get());
            showings.append({exposed, box->frameGeometry().center(), image3->pos()});
            moveTo(kImage3Centre);
            clickAt(kImage3Centre);
        });
        guard.start(5000);
        box->exec();
        guard.stop();
        QVERIFY(!box->isVisible());
    }

    QCOMPARE(showings.size(), 2);
    for (const Showing& showing : showings) {
        QVERIFY(showing.exposed);
        QVERIFY2((showing.centre - screenCentre).manhattanLength() <= 2,
                 qPrintable(QStringLiteral("centre %1,%2 vs screen %3,%4")
                                .arg(showing.centre.x())
                                .arg(showing.centre.y())
                                .arg(screenCentre.x())
                                .arg(screenCentre.y())));
        QCOMPARE(showing.image3, kImage3Rest);
    }
    QCOMPARE(image3->pos(), kImage3Rest);
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
