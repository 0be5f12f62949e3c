// The model of a session's files and tree, and the random session steps.
#include "SessionModel.h"

#include <QDir>
#include <QFileInfo>

namespace keyloft::test {

namespace {

const QString kQuestion = "Confirm";
const QString kError = "INI Files editor";
// The folders of the test folder: itself and "sub".
const QStringList kFolders = {QString(), "sub"};

QString FolderOfPath(const QString& path) {
    const int slash = path.lastIndexOf('/');
    return slash < 0 ? QString() : path.left(slash);
}

QString NameOfPath(const QString& path) { return path.mid(path.lastIndexOf('/') + 1); }

QString Joined(const QString& folder, const QString& name) {
    return QDir::cleanPath(folder.isEmpty() ? name : folder + "/" + name);
}

template <class T>
const T& Pick(std::mt19937& rng, const QList<T>& items) {
    return items[static_cast<qsizetype>(rng() % static_cast<unsigned>(items.size()))];
}

bool Chance(std::mt19937& rng, int percent) { return static_cast<int>(rng() % 100) < percent; }

}  // namespace

QStringList SplitStep(const QString& step) {
    QStringList parts = step.split(" | ");
    for (QString& part : parts) part = part.trimmed();
    return parts;
}

SessionModel::SessionModel(FileMap files, const QString& startFile) : disk(std::move(files)) {
    if (!startFile.isEmpty()) Load(startFile);
    changed = false;
}

QString SessionModel::Resolve(const QString& folder, const QString& typed) const {
    QString name = typed;
    // The dialog adds its default extension to a name without a dot.
    if (!NameOfPath(name).contains('.')) name += ".ini";
    return Joined(folder, name);
}

QString SessionModel::Ask(DialogKind kind, const QString& title, const QString& offered,
                          const QString& folder) {
    dialogs << title;
    const QString answer = (*answerer_)(kind, offered, folder);
    if (answer.isEmpty()) {
        scriptError = QString("no answer for dialog %1").arg(title);
        throw Failed{};
    }
    played_ << answer;
    return answer;
}

int SessionModel::Answer(const QString& answer) const {
    if (answer == "Enter") return 0;
    if (answer == "close") return 2;
    return 1;  // Escape, Tab Enter
}

void SessionModel::Load(const QString& path) {
    present_ = true;
    root_ = NameOfPath(path);
    lines_.clear();
    const QByteArray bytes = disk.value(path);
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0) end = bytes.size() - 1;
        Line line;
        line.text = bytes.mid(start, end + 1 - start);
        line.eol = line.text.endsWith("\r\n") ? "\r\n" : line.text.endsWith('\n') ? "\n" : "";
        line.text.chop(line.eol.size());
        lines_ << line;
        start = end + 1;
    }
    loaded_ = path;
}

void SessionModel::Clear() {
    present_ = false;
    root_.clear();
    lines_.clear();
    loaded_.clear();
}

QStringList SessionModel::Nodes() const {
    QStringList nodes;
    if (!present_) return nodes;
    nodes << root_;
    for (const Line& line : lines_) nodes << QString::fromUtf8(line.text);
    return nodes;
}

QStringList SessionModel::Tree() const {
    QStringList tree;
    if (!present_) return tree;
    tree << root_;
    for (const Line& line : lines_) {
        tree << (line.text.startsWith('[') ? "  " : "    ") + QString::fromUtf8(line.text);
    }
    return tree;
}

int SessionModel::FindNode(const QString& text) const {
    if (!present_) return -2;
    if (root_ == text) return -1;
    for (int i = 0; i < lines_.size(); ++i)
        if (QString::fromUtf8(lines_[i].text) == text) return i;
    return -2;
}

std::optional<QString> SessionModel::FileAnswer(const QString& answer, QString folder,
                                                QString name) const {
    for (const QString& key : answer.split(' ', Qt::SkipEmptyParts)) {
        if (key.startsWith('=')) {
            name = key.mid(1);
        } else if (key == "Escape" || key == "close") {
            return std::nullopt;
        } else if (key == "Enter" && name == "..") {
            folder = FolderOfPath(folder);  // the dialog goes up one folder
        } else if (key == "Enter" && kFolders.contains(Joined(folder, name))) {
            folder = Joined(folder, name);  // and into a folder
        } else if (key == "Enter") {
            return Resolve(folder, name);
        }
    }
    return std::nullopt;
}

void SessionModel::ApplyPending() {
    if (!pending_) return;
    const auto [node, text] = *pending_;
    pending_.reset();
    const QString now = node < 0 ? root_ : QString::fromUtf8(lines_[node].text);
    if (text == now) return;  // closes as Escape would
    if (node < 0) {
        root_ = text;
    } else {
        lines_[node].text = text.toUtf8();
    }
    changed = true;
}

bool SessionModel::Save() {
    if (!present_) {
        Ask(DialogKind::Message, "Information");
        return false;
    }
    const QString folder = loaded_.isEmpty() ? chosenFolder_ : FolderOfPath(loaded_);
    const std::optional<QString> chosen =
        FileAnswer(Ask(DialogKind::SaveFile, "Save INI file", root_, folder), folder, root_);
    if (!chosen) return false;
    const QString target = *chosen;
    chosenFolder_ = FolderOfPath(target);
    if (!kFolders.contains(chosenFolder_)) {
        Ask(DialogKind::Message, kError);
        throw Failed{};
    }
    bool backup = false;
    if (disk.contains(target)) {
        if (disk.contains(target + ".in1")) {
            Ask(DialogKind::Message, kError);  // I/O error 17.
            throw Failed{};
        }
        disk[target + ".in1"] = disk[target];
        backup = true;
    }
    QByteArray bytes;
    for (const Line& line : lines_) bytes += line.text + line.eol;
    disk[target] = bytes;
    status = "INI File saved as " + NameOfPath(target) +
             (backup ? ", original file was backed up as *.in1" : "");
    changed = false;
    return true;
}

QString SessionModel::Play(const QString& step) {
    QStringList answers = SplitStep(step).mid(1);
    const Answerer fromStep = [&answers](DialogKind, const QString&, const QString&) {
        return answers.isEmpty() ? QString() : answers.takeFirst();
    };
    const QString played = Play(step, fromStep);
    if (scriptError.isEmpty() && !answers.isEmpty())
        scriptError = QString("%1 answers left over").arg(answers.size());
    return played;
}

QString SessionModel::Play(const QString& step, const Answerer& answer) {
    answerer_ = &answer;
    dialogs.clear();
    status = QString();
    scriptError.clear();
    played_.clear();
    const QString head = SplitStep(step).constFirst();
    const QString command = head.section(' ', 0, 0);
    const QString target = head.section(' ', 1);

    if (command == "write") {
        const int blank = target.indexOf(' ');
        disk[target.left(blank)] =
            target.mid(blank + 1).replace("\\n", "\n").replace("\\r", "\r").toUtf8();
        return head;
    }
    if (command == "rm") {
        disk.remove(target);
        return head;
    }

    try {
        if (command == "F2") {
            pending_.reset();
            const int node = FindNode(target);
            QString text = node == -1 ? root_ : QString::fromUtf8(lines_[node].text);
            const QString keys = Ask(DialogKind::Input, "editor");
            dialogs.clear();  // the editor is no dialog
            for (const QString& key : keys.split(' ')) {
                if (key.startsWith('=')) {
                    text = key.mid(1);
                } else if (key == "Escape") {
                    return head + " | " + keys;
                } else if (key == "Enter") {
                    if (node == -1) {
                        root_ = text;
                    } else {
                        lines_[node].text = text.toUtf8();
                    }
                    changed = true;
                    return head + " | " + keys;
                }
            }
            pending_ = std::make_pair(node, text);
            return head + " | " + keys;
        }
        // Every command finishes an open edit first.
        ApplyPending();
        if (command == "actOpen") {
            if (changed) {
                const int yes = Answer(Ask(DialogKind::Question, kQuestion));
                if (yes == 2) return head + " | " + played_.join(" | ");
                if (yes == 0) {
                    if (!Save()) return head + " | " + played_.join(" | ");
                }
            }
            QString folder;
            QString name;
            if (!openChosen_.isEmpty()) {
                folder = FolderOfPath(openChosen_);
                name = NameOfPath(openChosen_);
            } else if (!loaded_.isEmpty()) {
                folder = FolderOfPath(loaded_);
            }
            const std::optional<QString> chosen =
                FileAnswer(Ask(DialogKind::OpenFile, "Open INI File", name, folder), folder, name);
            if (chosen) {
                const QString path = *chosen;
                openChosen_ = path;
                chosenFolder_ = FolderOfPath(path);
                if (!disk.contains(path)) {
                    Ask(DialogKind::Message, kError);  // File not found.
                    throw Failed{};
                }
                Load(path);
                changed = false;
                status = QString();  // the load's counts
            }
        } else if (command == "actSaveINI") {
            Save();
        } else if (command == "actINI" || command == "actClearAll") {
            const bool newIni = command == "actINI";
            if (changed) {
                const int yes = Answer(Ask(DialogKind::Question, kQuestion));
                if (newIni ? yes != 0 : yes == 2) return head + " | " + played_.join(" | ");
                if (yes == 0 && !Save()) return head + " | " + played_.join(" | ");
            }
            Clear();
            changed = false;
            if (!newIni) status = "Ready";
            if (newIni) {
                const QString a = Ask(DialogKind::Input, "New INI File");
                QString name = a.startsWith('=') ? a.section(' ', 0, 0).mid(1) : QString();
                present_ = true;
                root_ = name.endsWith(".ini") ? name : name + ".ini";
                changed = true;
                if (!name.endsWith(".ini")) status = "Newe INI root created";
            }
        } else if (command == "actExit") {
            if (!changed) {
                closed = true;
            } else {
                const int yes = Answer(Ask(DialogKind::Question, kQuestion));
                closed = yes == 1 || (yes == 0 && Save());
            }
        } else if (command == "actremove") {
            const int node = FindNode(target);
            if (Answer(Ask(DialogKind::Question, kQuestion)) == 0) {
                int end = node + 1;
                if (lines_[node].text.startsWith('[')) {
                    while (end < lines_.size() && !lines_[end].text.startsWith('[')) ++end;
                }
                lines_.remove(node, end - node);
                changed = true;
            }
        } else if (command == "actRemark" || command == "actRemoveComment") {
            const int node = FindNode(target);
            if (Answer(Ask(DialogKind::Question, kQuestion)) != 1) {
                QByteArray& text = lines_[node].text;
                text = command == "actRemark" ? ";" + text : text.mid(1);
                changed = true;
            }
        }
    } catch (const Failed&) {
    }
    return played_.isEmpty() ? head : head + " | " + played_.join(" | ");
}

QString SessionModel::RandomStep(std::mt19937& rng) {
    // A typed name relative to the folder a dialog shows.
    auto typed = [&](const QString& offered, const QString& folder, bool open) {
        QList<QString> names = {"sample.ini", "other.ini", "fresh.ini", "new"};
        if (folder.isEmpty()) {
            names << "sub/inner.ini"
                  << "sub/made.ini";
        } else {
            names << "inner.ini"
                  << "made.ini";
        }
        if (open) names << "missing.ini";
        if (!offered.isEmpty() && Chance(rng, 50)) return QString("Enter");
        if (Chance(rng, 10)) return QString("Escape");
        // Through the folders, as a user goes from one to the other.
        if (Chance(rng, 15)) {
            if (!folder.isEmpty()) return "=.. Enter =" + Pick(rng, names) + " Enter";
            return QString("=sub Enter ^A =inner.ini Enter");
        }
        return "=" + Pick(rng, names) + " Enter";
    };
    const Answerer chooser = [&](DialogKind kind, const QString& offered,
                                 const QString& folder) -> QString {
        switch (kind) {
            case DialogKind::Question:
                return Pick(rng, QList<QString>{"Enter", "Enter", "Escape", "Tab Enter", "close"});
            case DialogKind::Message:
                return "Enter";
            case DialogKind::SaveFile:
                return typed(offered, folder, false);
            case DialogKind::OpenFile:
                return typed(offered, folder, true);
            case DialogKind::Input:
                return Chance(rng, 15)
                           ? QString("Escape")
                           : "=" + Pick(rng, QList<QString>{"fresh", "b.ini", "x"}) + " Enter";
        }
        return QString();
    };

    QList<QString> commands = {"actOpen", "actOpen",     "actSaveINI", "actSaveINI",
                               "actINI",  "actClearAll", "actExit"};
    if (!pending_ && present_) {
        QList<QString> extra = {"F2", "F2", "F2 root", "actremove", "actRemark", "write", "rm"};
        commands << extra << extra;
    }
    if (!pending_ && !present_)
        commands << "write"
                 << "rm";
    const QString command = Pick(rng, commands);

    if (command == "write") {
        const QString file = Pick(rng, QList<QString>{"sample.ini", "other.ini", "sub/inner.ini"});
        const QString content =
            Pick(rng, QList<QString>{"[w]\\nk=1\\n", "[w]\\r\\nk=2\\r\\n[v]\\r\\n", "[z]\\n"});
        return Play("write " + file + " " + content, chooser);
    }
    if (command == "rm") {
        QList<QString> backups;
        for (auto it = disk.cbegin(); it != disk.cend(); ++it)
            if (it.key().endsWith(".in1")) backups << it.key();
        if (backups.isEmpty()) return Play("actSaveINI", chooser);
        return Play("rm " + Pick(rng, backups), chooser);
    }
    QList<int> keys, sections, commented;
    for (int i = 0; i < lines_.size(); ++i) {
        const QByteArray& text = lines_[i].text;
        (text.startsWith('[') ? sections : text.startsWith(';') ? commented : keys) << i;
    }
    auto textOf = [&](int i) { return QString::fromUtf8(lines_[i].text); };
    if (command == "F2 root" || (command == "F2" && keys.isEmpty())) {
        const QString name = Pick(rng, QList<QString>{"renamed.ini", "other.ini", "second"});
        const QString end = Pick(rng, QList<QString>{" Enter", " Enter", "", " Escape"});
        return Play("F2 " + root_ + " | =" + name + end);
    }
    if (command == "F2") {
        const QString end = Pick(rng, QList<QString>{" Enter", " Enter", "", " Escape"});
        const QString value = QString::number(rng() % 100);
        const QString keysTyped =
            Chance(rng, 15) ? (end.isEmpty() ? QString("-") : end.mid(1))
                            : "=" + textOf(Pick(rng, keys)).section('=', 0, 0) + "=" + value + end;
        return Play("F2 " + textOf(Pick(rng, keys)) + " | " + keysTyped);
    }
    if (command == "actremove" && !(keys.isEmpty() && sections.isEmpty())) {
        const QList<int> nodes = keys + sections;
        return Play("actremove " + textOf(Pick(rng, nodes)), chooser);
    }
    if (command == "actRemark") {
        if (!commented.isEmpty() && (keys.isEmpty() || Chance(rng, 30)))
            return Play("actRemoveComment " + textOf(Pick(rng, commented)), chooser);
        if (!keys.isEmpty()) return Play("actRemark " + textOf(Pick(rng, keys)), chooser);
    }
    if (command == "actremove" || command == "actRemark") return Play("actSaveINI", chooser);
    return Play(command, chooser);
}

}  // namespace keyloft::test
