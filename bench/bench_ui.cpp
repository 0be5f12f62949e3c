// Times the main window's heavy paths on a large INI file against the core's
// own figures for the same work, measured in the same run: load until the
// tree is shown, save, Expand all, Collapse all, Find, and commenting and
// uncommenting a section of 100 000 keys. With ten million lines or more it
// only loads through the window and reports the time and the peak memory.
// Then every command is timed on a large section in each state the tree can
// be in: the section collapsed or expanded, right after the load or after
// Expand all and Collapse all, in files of many small sections or of
// sections of twenty keys.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileDialog>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "BenchSupport.h"
#include "DocumentModel.h"
#include "EditorHeap.h"
#include "IniTreeView.h"
#include "document/Document.h"
#include "files/IniFile.h"
#include "frmMain.h"

namespace {

using namespace keyloft::bench;

constexpr std::size_t kLoadOnlyFrom = 10'000'000;
constexpr double kLoadRatioTarget = 1.5;  // window load <= 1.5 x core load
constexpr double kMemoryTarget = 2.5;     // window's peak RSS <= 2.5 x the file
constexpr double kOperationTarget = 0.2;  // seconds, for folding, find and comment
constexpr int kSectionKeys = 100'000;
// Each command in each state of the tree: at most 0.2 s up to a million
// lines, 1 s at ten million.
constexpr double kStateTarget = 0.2;
constexpr double kStateTargetLarge = 1.0;

struct Options {
    std::size_t lines = 1'000'000;
    std::string file;  // measured instead of a generated one
    int runs = 5;
    bool onlyStates = false;
};

std::string Megabytes(std::size_t bytes) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return buf;
}

// Processes events until `done` holds; false after `ms` without it.
bool ProcessUntil(const std::function<bool()>& done, int ms = 10'000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Lets the view lay out and paint what the last command left.
// Counts the paint events a widget receives while it lives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) : widget_(widget) { widget_->installEventFilter(this); }
    ~PaintCounter() override { widget_->removeEventFilter(this); }
    int count() const { return count_; }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++count_;
        return false;
    }

private:
    QWidget* widget_;
    int count_ = 0;
};

// Runs what the last command left to do until the tree has been painted
// once: its own update requests paint it, and a repaint is forced only when
// none came.
void Show(TForm1& window) {
    QWidget* viewport = window.treeView()->viewport();
    const PaintCounter painted(viewport);
    QApplication::processEvents();
    if (painted.count() == 0) viewport->repaint();
}

std::unique_ptr<TForm1> NewWindow() {
    auto window = std::make_unique<TForm1>();
    window->resize(1024, 700);
    window->show();
    if (!ProcessUntil(
            [&] { return window->windowHandle() && window->windowHandle()->isExposed(); }))
        throw std::runtime_error("the window was never shown");
    return window;
}

// Answers the modal dialogs the next command opens, one answer each in
// order; each answer returns the moment from which the command's own work is
// timed (right before it accepts its dialog).
class Answers : public QObject {
public:
    using Answer = std::function<void(QWidget*)>;
    explicit Answers(std::vector<Answer> answers) : answers_(std::move(answers)) {
        connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
        timer_.start(1);
    }
    bool done() const { return next_ == answers_.size(); }

private:
    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (done() || modal == nullptr || modal == last_ || !modal->isVisible()) return;
        last_ = modal;
        const Answer answer = answers_[next_++];
        QTimer::singleShot(0, modal, [this, answer, modal] {
            answer(modal);
            if (!modal->isVisible()) last_ = nullptr;
        });
        if (done()) timer_.stop();
    }
    std::vector<Answer> answers_;
    std::size_t next_ = 0;
    QWidget* last_ = nullptr;
    QTimer timer_;
};

Answers::Answer ClickAt(const QString& text, Clock::time_point& start) {
    return [text, &start](QWidget* dialog) {
        for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
            if (button->text().remove('&') == text) {
                start = Clock::now();
                button->click();
                return;
            }
        }
        throw std::runtime_error("no button " + text.toStdString());
    };
}

Answers::Answer ChooseFileAt(const QString& path, Clock::time_point& start) {
    return [path, &start](QWidget* dialog) {
        auto* files = qobject_cast<QFileDialog*>(dialog);
        if (files == nullptr) throw std::runtime_error("expected a file dialog");
        files->findChild<QLineEdit*>("fileNameEdit")->setText(path);
        start = Clock::now();
        static_cast<QDialog*>(files)->accept();
    };
}

Answers::Answer TypeAt(const QString& text, Clock::time_point& start) {
    return [text, &start](QWidget* dialog) {
        auto* input = qobject_cast<QInputDialog*>(dialog);
        if (input == nullptr) throw std::runtime_error("expected an input prompt");
        input->setTextValue(text);
        start = Clock::now();
        input->accept();
    };
}

void Trigger(TForm1& window, const char* name) {
    auto* action = window.findChild<QAction*>(name);
    if (action == nullptr) throw std::runtime_error(std::string("no action ") + name);
    action->trigger();
}

// Triggers the command, answering its dialogs; the time runs from the last
// answer's start (or the trigger when there is no dialog) until the tree is
// shown again.
double TimeCommand(TForm1& window, const char* action, std::vector<Answers::Answer> answers,
                   Clock::time_point& start) {
    Answers script(std::move(answers));
    start = Clock::now();
    Trigger(window, action);
    Show(window);
    const auto end = Clock::now();
    if (!script.done()) throw std::runtime_error(std::string(action) + " did not open its dialogs");
    return Seconds(start, end);
}

struct Row {
    std::string name;
    std::optional<double> core;
    double window = 0;
};

void PrintRow(const Row& row) {
    std::string verdict;
    if (row.name.rfind("load", 0) == 0)
        verdict = Verdict(row.window / *row.core, kLoadRatioTarget);
    else if (!row.core)
        verdict = Verdict(row.window, kOperationTarget, " s");
    else
        verdict = Ratio(row.window / *row.core);
    std::printf("%-40s %11s %11s   %s\n", row.name.c_str(),
                row.core ? Time(*row.core).c_str() : "-", Time(row.window).c_str(),
                verdict.c_str());
    std::fflush(stdout);
}

// The nodes whose text holds `needle`, as Find counts them from the root.
std::size_t CountContaining(const keyloft::Document& doc, std::string_view needle) {
    std::size_t count = 0;
    std::string scratch;
    for (const keyloft::Node* node = doc.First(); node != nullptr;
         node = keyloft::Document::Next(node)) {
        if (node->text(scratch).find(needle) != std::string_view::npos) ++count;
    }
    return count;
}

int RunLoadOnly(const std::string& path) {
    std::unique_ptr<TForm1> window = NewWindow();
    const double load = Timed([&] {
        window->LoadIniFile(QString::fromStdString(path));
        Show(*window);
    });
    std::printf("window load until shown: %s   (%s)\n", Time(load).c_str(),
                window->statusText().toUtf8().constData());
    const std::size_t peak = PeakRss();
    std::printf(
        "peak RSS: %s, against the file %s\n", Megabytes(peak).c_str(),
        Verdict(static_cast<double>(peak) / static_cast<double>(fs::file_size(path)), kMemoryTarget)
            .c_str());
    return 0;
}

int RunAll(const Options& o, const std::string& path, const fs::path& work) {
    std::vector<Row> rows;
    std::vector<std::string> problems;
    const QString qpath = QString::fromStdString(path);

    // Load: in each run the core alone, then the window until the tree is
    // painted, each right after the same warming of memory, so that both
    // meet the process in the same state.
    keyloft::LoadResult loaded;
    std::vector<double> coreLoads;
    // Each run's time until LoadIniFile returned, and until the tree was
    // painted.
    std::unique_ptr<TForm1> window;
    std::vector<std::pair<double, double>> windowLoads;
    const std::size_t warm = 3 * fs::file_size(path);
    // One round first, not timed, for both sides: what happens once in a
    // process (the heap's first growth, the first rows' glyphs) is not a
    // load's cost.
    for (int run = -1; run < o.runs; ++run) {
        window.reset();
        WarmMemory(warm);
        {
            keyloft::Document doc;
            const double seconds = Timed([&] { loaded = keyloft::LoadIniFile(doc, path); });
            if (run >= 0) coreLoads.push_back(seconds);
        }
        WarmMemory(warm);
        window = NewWindow();
        const auto t0 = Clock::now();
        window->LoadIniFile(qpath);
        const auto t1 = Clock::now();
        Show(*window);
        if (run >= 0) windowLoads.emplace_back(Seconds(t0, t1), Seconds(t0, Clock::now()));
    }
    const double coreLoad = *std::min_element(coreLoads.begin(), coreLoads.end());
    const auto best = *std::min_element(windowLoads.begin(), windowLoads.end(),
                                        [](auto& a, auto& b) { return a.second < b.second; });
    rows.push_back({"load until shown", coreLoad, best.second});
    const QString report = QString::fromStdString(keyloft::LoadReport(loaded));
    if (window->statusText() != report)
        problems.push_back("the window reports \"" + window->statusText().toStdString() +
                           "\", the core \"" + report.toStdString() + "\"");
    std::printf("%s: %s, %zu nodes\n\n", path.c_str(), report.toUtf8().constData(),
                window->document().Count());
    std::printf("%-40s %11s %11s   %s\n", "operation", "core", "window",
                "window / core or window alone, target");
    PrintRow(rows.back());
    // The target holds for every run, not only the best: each run's window
    // against that run's core; against the core's best for comparison.
    double worst = 0;
    for (std::size_t run = 0; run < windowLoads.size(); ++run) {
        const auto [command, shown] = windowLoads[run];
        const double ratio = shown / coreLoads[run];
        std::printf(
            "  run %zu: core %9s; window: LoadIniFile returns after %9s, shown after %9s = %s "
            "this run's core (%s the core's best)\n",
            run + 1, Time(coreLoads[run]).c_str(), Time(command).c_str(), Time(shown).c_str(),
            Ratio(ratio).c_str(), Ratio(shown / coreLoad).c_str());
        worst = std::max(worst, ratio);
    }
    std::printf("  the worst of %d runs: %s\n", o.runs, Verdict(worst, kLoadRatioTarget).c_str());

    // Save: the core's write against the command after its dialog closed.
    const std::string coreSaved = (work / "core-saved.ini").string();
    const std::string windowSaved = (work / "window-saved.ini").string();
    auto remove = [](const std::string& p) {
        fs::remove(p);
        fs::remove(keyloft::BackupName(p));
    };
    const double coreSave = BestOf(
        o.runs, [&] { remove(coreSaved); },
        [&] { keyloft::SaveIniFile(window->document(), coreSaved); });
    Clock::time_point start;
    const double windowSave = BestOf(
        o.runs, [&] { remove(windowSaved); },
        [&] {
            return TimeCommand(*window, "actSaveINI",
                               {ChooseFileAt(QString::fromStdString(windowSaved), start)}, start);
        });
    rows.push_back({"save (after the dialog)", coreSave, windowSave});
    PrintRow(rows.back());
    if (fs::file_size(coreSaved) != fs::file_size(windowSaved))
        problems.push_back("the window and the core saved files of different sizes");
    remove(coreSaved);
    remove(windowSaved);

    // Folding the whole tree, each run from the other fold.
    const struct {
        const char* name;
        const char* action;
        const char* undo;
    } folds[] = {{"Expand all", "actExpandAll", "actCollapseAll"},
                 {"Collapse all", "actCollapseAll", "actExpandAll"}};
    for (const auto& fold : folds) {
        const double seconds = BestOf(
            o.runs,
            [&] {
                Trigger(*window, fold.undo);
                Show(*window);
            },
            [&] { return TimeCommand(*window, fold.action, {}, start); });
        rows.push_back({fold.name, std::nullopt, seconds});
        PrintRow(rows.back());
    }

    // Find, on a text that most sections hold.
    const std::size_t matches = CountContaining(window->document(), "=1");
    const double find = BestOf(
        o.runs, [] {},
        [&] { return TimeCommand(*window, "actfind", {TypeAt("=1", start)}, start); });
    rows.push_back({"Find \"=1\" (" + std::to_string(matches) + " matches)", std::nullopt, find});
    PrintRow(rows.back());
    if (window->statusText() != QString("%1 matches found").arg(matches))
        problems.push_back("Find reported \"" + window->statusText().toStdString() + "\"");
    window.reset();

    // Comment and uncomment one section of many keys.
    window = NewWindow();
    keyloft::Document& big = window->document();
    keyloft::Node* root = big.AddRoot("big.ini");
    keyloft::Node* section = big.AddChild(root, "[Big]");
    for (int i = 0; i < kSectionKeys; ++i)
        big.AddChild(section, "key" + std::to_string(i) + "=" + std::to_string(i));
    Show(*window);
    // Each run starts with the section collapsed: the command expands it to
    // show its last key.
    const auto selectCollapsed = [&] {
        window->treeView()->collapse(window->model()->indexOf(section));
        window->selectNode(section);
        Show(*window);
    };
    double comment = 1e300, uncomment = 1e300;
    for (int run = 0; run < o.runs; ++run) {
        selectCollapsed();
        comment =
            std::min(comment, TimeCommand(*window, "actRemark", {ClickAt("Yes", start)}, start));
        if (CountContaining(big, ";") != static_cast<std::size_t>(kSectionKeys) + 1)
            problems.push_back("Comment Line left keys uncommented");
        selectCollapsed();
        uncomment = std::min(
            uncomment, TimeCommand(*window, "actRemoveComment", {ClickAt("Yes", start)}, start));
        if (CountContaining(big, ";") != 0) problems.push_back("Remove Comment left comment marks");
    }
    rows.push_back(
        {"comment a section of " + std::to_string(kSectionKeys) + " keys", std::nullopt, comment});
    PrintRow(rows.back());
    rows.push_back({"uncomment it", std::nullopt, uncomment});
    PrintRow(rows.back());
    window.reset();

    std::printf("\nTimes are the best of %d runs; window times run until the tree is painted.\n",
                o.runs);
    std::printf("peak RSS: %s\n", Megabytes(PeakRss()).c_str());
    if (!problems.empty()) {
        std::printf("\nChecks that failed:\n");
        for (const std::string& p : problems) std::printf("  %s\n", p.c_str());
        return 1;
    }
    return 0;
}

// --- Every command in every state of the tree -------------------------------

// A file of `sections` sections of `keysEach` keys each, then the section
// [huge] of `hugeKeys` keys, whose last key alone holds "hugelast".
struct StateFile {
    std::string title;
    std::size_t sections;
    std::size_t keysEach;
    std::size_t hugeKeys;
};

std::size_t LinesOf(const StateFile& f) {
    return 1 + f.sections * (1 + f.keysEach) + 1 + f.hugeKeys;
}

void WriteStateFile(const StateFile& f, const std::string& path) {
    FileWriter out(path);
    out.Line("; generated");
    std::string line;
    for (std::size_t s = 0; s < f.sections; ++s) {
        out.Line("[s" + std::to_string(s) + "]");
        for (std::size_t k = 0; k < f.keysEach; ++k) out.Line("k" + std::to_string(k) + "=1");
    }
    out.Line("[huge]");
    for (std::size_t k = 0; k + 1 < f.hugeKeys; ++k) out.Line("h" + std::to_string(k) + "=2");
    out.Line("hugelast=3");
    out.Close();
}

// The inputs at `lines` lines: many sections of one key and a tenth of the
// file in one section; sections of twenty keys and the same large section;
// and the same first file at 450 000 lines whatever `lines` is.
std::vector<StateFile> StateFiles(std::size_t lines) {
    const std::size_t huge = lines / 10;
    const std::size_t rest = lines - huge - 2;
    auto count = [](std::size_t n) {
        std::string digits = std::to_string(n);
        for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(i, ",");
        return digits;
    };
    auto describe = [&](const StateFile& f) {
        return count(LinesOf(f)) + " lines: " + count(f.sections) + " sections of " +
               count(f.keysEach) + " key" + (f.keysEach == 1 ? "" : "s") + ", then [huge] of " +
               count(f.hugeKeys) + " keys";
    };
    std::vector<StateFile> files = {
        {"", 200'000, 1, 50'000}, {"", rest / 2, 1, huge}, {"", rest / 21, 20, huge}};
    for (StateFile& f : files) f.title = describe(f);
    return files;
}

// The states of the tree a command meets the section in.
struct TreeState {
    bool folded;    // Expand all and Collapse all ran after the load
    bool expanded;  // the section is expanded
};

constexpr TreeState kStates[] = {{false, false}, {false, true}, {true, false}, {true, true}};

constexpr const char* kStateCommands[] = {"Comment",    "Remove Comment", "New Key", "Edit Line",
                                          "Expand all", "Collapse all",   "Find",    "Delete"};
constexpr std::size_t kCommandCount = std::size(kStateCommands);

// Runs every command once on the section [huge] of the loaded file, each
// from `state` (restored between them, the commands' own changes undone
// untimed), and returns their times in the order of kStateCommands.
std::vector<double> TimeStateCommands(const std::string& path, const TreeState& state,
                                      std::vector<std::string>& problems) {
    std::unique_ptr<TForm1> window = NewWindow();
    window->LoadIniFile(QString::fromStdString(path));
    Show(*window);
    if (state.folded) {
        for (const char* fold : {"actExpandAll", "actCollapseAll"}) {
            Trigger(*window, fold);
            Show(*window);
        }
    }
    keyloft::Document& doc = window->document();
    keyloft::Node* root = doc.NodeAt(0);
    keyloft::Node* section = root->child(root->childCount() - 1);
    const int keys = section->childCount();
    auto* view = window->treeView();
    const auto restore = [&] {
        view->setExpanded(window->model()->indexOf(section), state.expanded);
        window->selectNode(section);
        Show(*window);
    };
    const auto check = [&](bool holds, const std::string& what) {
        if (!holds) problems.push_back(what);
    };
    std::vector<double> times;
    Clock::time_point start;

    restore();
    times.push_back(TimeCommand(*window, "actRemark", {ClickAt("Yes", start)}, start));
    check(section->child(keys - 1)->storedText() == ";hugelast=3", "Comment left the last key");
    check(window->selectedNode() == section->child(keys - 1),
          "Comment did not select the last key");
    restore();
    times.push_back(TimeCommand(*window, "actRemoveComment", {ClickAt("Yes", start)}, start));
    check(section->child(0)->storedText() == "h0=2", "Remove Comment left the first key");

    restore();
    times.push_back(
        TimeCommand(*window, "actNewValue", {TypeAt("newkey", start), TypeAt("4", start)}, start));
    check(section->childCount() == keys + 1, "New Key added no key");
    if (section->childCount() == keys + 1) doc.Delete(section->child(keys));

    restore();
    {
        start = Clock::now();
        Trigger(*window, "actEditLine");
        Show(*window);
        QLineEdit* editor = nullptr;
        for (auto* e : view->findChildren<QLineEdit*>("nodeEditor"))
            if (e->isVisible()) editor = e;
        if (editor == nullptr) throw std::runtime_error("Edit Line opened no editor");
        editor->setText("[huge edited]");
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(editor, &press);
        Show(*window);
        times.push_back(Seconds(start, Clock::now()));
        check(section->storedText() == "[huge edited]", "Edit Line left the section's text");
        doc.SetText(section, "[huge]");
    }

    restore();
    times.push_back(TimeCommand(*window, "actExpandAll", {}, start));
    times.push_back(TimeCommand(*window, "actCollapseAll", {}, start));

    restore();
    times.push_back(TimeCommand(*window, "actfind", {TypeAt("hugelast", start)}, start));
    check(window->selectedNode() == section->child(keys - 1), "Find did not select the last key");

    restore();
    const std::size_t before = doc.Count();
    times.push_back(TimeCommand(*window, "actremove", {ClickAt("Yes", start)}, start));
    check(doc.Count() == before - static_cast<std::size_t>(keys) - 1, "Delete left the section");
    doc.ItemsChanged = false;
    return times;
}

int RunStates(std::size_t lines, const fs::path& work) {
    std::vector<std::string> problems;
    // The figure farthest over (or nearest to) its file's target.
    double worstShare = 0;
    std::string worst;
    std::printf(
        "\nEvery command on the section [huge] in each state of the tree, target <= %g s up to"
        " a million lines, <= %g s beyond (one run each)\n",
        kStateTarget, kStateTargetLarge);
    for (const StateFile& f : StateFiles(lines)) {
        const double target = LinesOf(f) > 1'000'000 ? kStateTargetLarge : kStateTarget;
        const std::string path = (work / "states.ini").string();
        WriteStateFile(f, path);
        std::vector<std::vector<double>> columns;
        for (const TreeState& state : kStates)
            columns.push_back(TimeStateCommands(path, state, problems));
        fs::remove(path);
        std::printf("\n%s (target <= %g s)\n", f.title.c_str(), target);
        std::printf("%-16s %23s %23s\n", "", "right after the load", "after Expand+Collapse all");
        std::printf("%-16s %11s %11s %11s %11s\n", "command", "collapsed", "expanded", "collapsed",
                    "expanded");
        for (std::size_t c = 0; c < kCommandCount; ++c) {
            std::printf("%-16s", kStateCommands[c]);
            for (std::size_t s = 0; s < columns.size(); ++s) {
                const double t = columns[s][c];
                std::printf(" %10s%s", Time(t).c_str(), t > target ? "!" : " ");
                if (t / target > worstShare) {
                    worstShare = t / target;
                    worst = Time(t) + " (" + kStateCommands[c] + ", " +
                            (kStates[s].folded ? "after folding" : "after the load") + ", " +
                            (kStates[s].expanded ? "expanded" : "collapsed") + ", " +
                            std::to_string(LinesOf(f)) + " lines)   " + Verdict(t, target, " s");
                }
            }
            std::printf("\n");
        }
        std::fflush(stdout);
    }
    std::printf("\nslowest against its target: %s\n", worst.c_str());
    std::printf("(\"!\" marks a figure over the target; one run each, so a busy machine shows)\n");
    if (!problems.empty()) {
        std::printf("\nChecks that failed:\n");
        for (const std::string& p : problems) std::printf("  %s\n", p.c_str());
        return 1;
    }
    return 0;
}

constexpr const char* kUsage =
    "usage: keyloft_bench_ui [options]\n"
    "  --lines N   lines of the generated file (default 1000000); from 10000000 on,\n"
    "              only the window's load is measured, with the peak memory; then\n"
    "              every command in each state of the tree, on files of N lines\n"
    "  --file F    measure the file F instead of a generated one\n"
    "  --runs N    runs per figure, best one kept (default 5)\n"
    "  --only-states  time only the commands in each state of the tree\n"
    "Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.\n";

}  // namespace

int main(int argc, char** argv) {
    return RunBenchmark("keyloft_bench_ui", kUsage, [&] {
        Options o;
        if (!ParseArgs(argc, argv,
                       {{"--lines", [&](const std::string& v) { o.lines = ParseCount(v); }},
                        {"--file", [&](const std::string& v) { o.file = v; }},
                        {"--runs",
                         [&](const std::string& v) { o.runs = static_cast<int>(ParseCount(v)); }},
                        {"--only-states", [&](const std::string&) { o.onlyStates = true; }, true}},
                       kUsage))
            return 0;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        // The process set up as the editor's main() sets it up.
        keyloft::app::KeepLargeBlocksOnTheHeap();
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);

        TempDir temp;
        if (o.onlyStates) return RunStates(o.lines, temp.path());
        std::string path = o.file;
        if (path.empty()) {
            path = (temp.path() / ("generated-" + std::to_string(o.lines) + ".ini")).string();
            std::printf("generating %zu lines...\n", o.lines);
            std::fflush(stdout);
            Generate(Shape::Typical, o.lines, path);
        }
        std::printf("platform %s, file of %s\n", QApplication::platformName().toUtf8().constData(),
                    Megabytes(fs::file_size(path)).c_str());
        const int status = o.file.empty() && o.lines >= kLoadOnlyFrom
                               ? RunLoadOnly(path)
                               : RunAll(o, path, temp.path());
        fs::remove(path);
        const int states = o.file.empty() ? RunStates(o.lines, temp.path()) : 0;
        return status != 0 ? status : states;
    });
}
