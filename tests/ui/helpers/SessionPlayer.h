// Plays a session on the real window as a user does, step by step, and
// checks after every step that the window and every file of the test folder
// hold what the session model says (see SessionModel.h for the steps).
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <random>

#include "SessionModel.h"

class TForm1;

namespace keyloft::test {

// Every file below `folder`, hidden ones included, by relative path.
FileMap FilesBelow(const QString& folder);

class SessionPlayer {
public:
    // A folder holding `files` (relative paths, "sub/" included), made the
    // current folder, and the editor started in it as `keyloft startFile`
    // (or without a file when empty).
    SessionPlayer(const FileMap& files, const QString& startFile);
    ~SessionPlayer();
    bool valid() const { return window_ != nullptr; }

    // Starts the editor again on sample.ini once the window was closed.
    QString Restart();
    // Plays a step; empty when everything matched, else what differs.
    QString Play(const QString& step);
    // Plays a random step; `played` receives it as written.
    QString PlayRandom(std::mt19937& rng, QString* played);
    bool closed() const { return model_.closed; }
    const SessionModel& model() const { return model_; }
    TForm1& window() { return *window_; }

private:
    QString PlayOnWindow(const QString& step);
    QString Compare(const QString& step);

    QTemporaryDir dir_;
    QString previousFolder_;
    SessionModel model_;
    std::unique_ptr<TForm1> window_;
};

// A seeded session of 20 to 40 steps (an Exit that closes the window is
// followed by a new start on sample.ini); empty when it held, else the
// seed, every step played and what differed, for replaying it.
// KEYLOFT_SESSION_TRACE set prints the steps of every session.
QString RunRandomSession(unsigned seed, int* steps = nullptr);

}  // namespace keyloft::test
