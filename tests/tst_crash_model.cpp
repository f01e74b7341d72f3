// Windows on one data.txt driven at random through counts, saves, hand edits,
// kills at every file step, failing disks and restarts, against a ledger of
// where each count must be: data.txt, a running window, or a recovery file
// offered at the next start. Only what the user declined, or a merge refused,
// may go.
#include "durable_file.h"
#include "file_helpers.h"
#include "session.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <tuple>

using namespace hostally;

namespace {

TallyTable Tallies::*const kList[] = {&Tallies::events, &Tallies::leagues};
bool Resets::*const kReset[] = {&Resets::events, &Resets::leagues};
using Counts = std::vector<std::int64_t>; // one a line, leagues first

// What a window holds: data.txt as it last read or wrote it, its tables, its Resets.
struct Content {
    Tallies base, view;
    Resets resets;
};

// What `c` adds to data.txt line by line (a reset list to zeros), and as
// text: the same for every recovery file that adds the same, empty for none.
Counts contribution(const Content &c, std::string *text = nullptr)
{
    Counts out;
    for (int l : {1, 0}) {
        const bool reset = c.resets.*kReset[l];
        const TallyTable &base = c.base.*kList[l], &view = c.view.*kList[l];
        if (text && reset)
            *text += l ? "|leagues reset" : "|events reset";
        for (int i = 0; i < view.used(); ++i) {
            out.push_back(view.count(i) - (reset ? 0 : base.count(i)));
            if (text && (reset || out.back() != 0))
                *text += " " + base.name(i) + (reset ? "=" : ":") + std::to_string(out.back());
        }
    }
    return out;
}

std::string key(const Content &c)
{
    std::string text;
    contribution(c, &text);
    return text;
}

Content whole(const Tallies &t)
{
    return {t, t, {true, true}};
}

Tallies readTallies(const QString &path)
{
    Tallies read;
    parseDataFile(readAll(path).toStdString(), read.leagues, read.events);
    return read;
}

void add(Counts &to, const Counts &c, int sign = 1)
{
    to.resize(std::max(to.size(), c.size()));
    for (std::size_t i = 0; i < c.size(); ++i)
        to[i] += sign * c[i];
}

std::string why(MergeRefusal::Kind kind, bool league, const std::string &name)
{
    return std::to_string(int(kind)) + (league ? " league " : " event ") + name;
}

struct Merged {
    Tallies out;
    Resets resets;
    std::vector<std::string> refusals;
};

// `c`'s changes added to `into` as the user expects it, line by line (names
// are unique here); `restoring` leaves a list whose Reset is refused alone.
Merged merge(const Content &c, const Tallies &into, bool restoring)
{
    Merged m {into, c.resets, {}};
    for (int l : {1, 0}) {
        const TallyTable &base = c.base.*kList[l], &view = c.view.*kList[l];
        TallyTable &out = m.out.*kList[l];
        const bool reset = c.resets.*kReset[l], changed = reset && base != out;
        std::vector<std::string> refused;
        if (changed)
            refused.push_back(why(MergeRefusal::Kind::ResetChanged, l, {}));
        if (reset)
            out.reset();
        for (int i = 0; i < base.used(); ++i) {
            const std::int64_t d = view.count(i) - (reset ? 0 : base.count(i));
            int j = out.used() - 1;
            while (j >= 0 && out.name(j) != base.name(i))
                --j;
            if (d != 0 && j < 0)
                refused.push_back(why(MergeRefusal::Kind::NotInFile, l, base.name(i)));
            else if (d != 0) // Remove stops at 0, as in the window
                out.setEntry(j, out.name(j),
                    out.count(j) >= 0 ? std::max<std::int64_t>(out.count(j) + d, 0)
                                      : out.count(j) + d);
        }
        if (changed && restoring)
            out = into.*kList[l], m.resets.*kReset[l] = false, refused.resize(1);
        m.refusals.insert(m.refusals.end(), refused.begin(), refused.end());
    }
    return m;
}

// Recovery files (path: what it holds) as they may be on the disk; a kill or
// a failure can leave several alternatives open.
using Disk = std::map<QString, Content>;
struct Parcel {
    std::vector<Disk> alts;
    Counts assumed; // what the ledger counts as still offered
};

std::map<QString, std::string> keys(const Disk &d)
{
    std::map<QString, std::string> out;
    for (const auto &[path, c] : d)
        out[path] = key(c);
    return out;
}

void addAlt(std::vector<Disk> &alts, Disk d)
{
    for (auto it = d.begin(); it != d.end();)
        it = key(it->second).empty() ? d.erase(it) : std::next(it);
    if (std::none_of(alts.begin(), alts.end(), [&](const Disk &a) { return keys(a) == keys(d); }))
        alts.push_back(std::move(d));
}

// One operation's file steps: the n-th ends the program, or the n-th of one
// kind fails.
struct Injection {
    int crashAt = 0, failAt = 0, calls = 0;
    FileStep failStep = FileStep::Start;
    bool failData = false, crashed = false, dataSwapped = false;
    std::string note;
    QString folder;
    std::map<QString, QByteArray> atCrash; // the folder as the crash left it
};

std::map<QString, QByteArray> filesIn(const QString &folder, const QStringList &names = {})
{
    std::map<QString, QByteArray> files;
    for (const QFileInfo &info :
        QDir(folder).entryInfoList(names, QDir::Files | QDir::Hidden | QDir::CaseSensitive)) {
        QFile file(info.filePath());
        files[info.filePath()] = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    return files;
}

// Whatever the program did after its crash never reached the disk. Locks
// are left out: a killed program's are taken over at once, as its process is
// gone, but this one runs on.
void undoAfterCrash(const Injection &in)
{
    const auto lock = [](const QString &path) { return path.endsWith(".lock"); };
    const std::map<QString, QByteArray> now = filesIn(in.folder);
    for (const auto &[path, bytes] : now)
        if (!in.atCrash.count(path) && !lock(path))
            QFile::remove(path);
    // Only what changed is put back: a file written is a change to a sync program.
    for (const auto &[path, bytes] : in.atCrash)
        if (!lock(path) && !(now.count(path) && now.at(path) == bytes))
            QVERIFY(writeAll(path, bytes));
}
Injection *active = nullptr;
std::map<std::string, int> seen; // what the runs reached, all together

// How many times each file was replaced: a sync program sees a file written
// again with the bytes it had as changed, whatever the clock's resolution.
std::map<QString, int> swaps;

Injected hook(FileStep step, const QString &path)
{
    swaps[path] += step == FileStep::Swapped;
    if (!active)
        return Injected::Proceed;
    Injection &in = *active;
    const bool data = path.endsWith(QStringLiteral("/data.txt"));
    if (in.crashed) // the program is gone: nothing more of it reaches the disk
        return Injected::Crash;
    in.dataSwapped = in.dataSwapped || (data && step == FileStep::Swapped);
    in.crashed = ++in.calls == in.crashAt;
    if (in.crashed)
        in.atCrash = filesIn(in.folder);
    if (!in.crashed
        && !(step == in.failStep && data == in.failData && in.failAt > 0 && --in.failAt == 0))
        return Injected::Proceed;
    static const char *steps[] = {"Start", "Written", "Swapped", "Removed"},
                      *files[] = {" recovery", " copy", " data"};
    const std::string what = std::string(in.crashed ? "crash at " : "fail at ") + steps[int(step)]
        + files[data ? 2 : int(path.contains(".sync-conflict-"))];
    in.note += " [" + what + "]";
    ++seen[what];
    return in.crashed ? Injected::Crash : Injected::Fail;
}

struct Window {
    std::unique_ptr<Session> s;
    Content now;
    std::vector<Disk> disk {Disk()}; // its recovery files
    int id = 0;
};

class Run {
public:
    // A run named for a computer is that computer's, on a folder that a sync
    // program shares with another's. It makes no Reset nor hand edit there: a
    // merged copy's Remove stops at 0 where two Resets met, which the ledger
    // cannot tell, and a version no save recorded has no copy related to it.
    Run(quint32 seed, const QString &folder, std::string &log, std::string &error,
        const QString &computer = {})
        : log(log),
          error(error),
          m_rng(seed),
          m_data(folder + "/data.txt"),
          m_computer(computer.isEmpty() ? computerName() : computer),
          m_synced(!computer.isEmpty())
    {
        const char *names[] = {"Quiz", "Relay", "Darts", "Bake Sale", "North", "South", "West"};
        for (int i = 0; i < 7; ++i)
            (m_file.*kList[i > 3]).setEntry(i > 3 ? i - 4 : i, names[i], 1000);
        m_made = contribution(whole(m_file));
        handWrite();
    }

    std::string &log, &error; // shared by the computers synced

    void go(int steps)
    {
        for (int n = 0; n < steps && error.empty(); ++n)
            turn();
        stop();
        if (error.empty())
            expect(contribution(whole(readTallies(m_data))) == owed(),
                "data.txt and the offers do not add up to the counts made");
    }

    void turn()
    {
        const int r = pick(100), w = m_windows.empty() ? -1 : pick(int(m_windows.size()));
        if (w < 0 || (r >= 80 && m_windows.size() < 3))
            restart();
        else if (r < 46 || (m_synced && r < 49))
            step(w);
        else if (r < 49)
            reset(w);
        else if (r < 64 || (m_synced && r < 73))
            save(w);
        else if (r < 73)
            handEdit(r >= 70);
        else if (r < 77)
            note(w, "killed", {}), die(w, m_windows[std::size_t(w)].disk, false, pick(2));
        else
            quit(w);
        check();
    }

    void stop()
    {
        while (error.empty() && !m_windows.empty())
            note(0, "killed", {}), die(0, m_windows[0].disk, false, true);
    }

    // What data.txt must hold: what was counted, less what a start offers
    // now and what was declined, refused or reset on the way.
    Counts owed()
    {
        Session fresh(m_data, m_computer);
        expect(fresh.load().ok, "data.txt no longer loads");
        const std::vector<Offer> offers = fresh.leftOffers();
        Counts owed = m_made;
        for (const Offer &o : offers)
            add(owed, contribution(contentOf(o)), -1);
        resolve(offers);
        add(owed, m_dropped, -1);
        return owed;
    }

    void expect(bool ok, const std::string &what)
    {
        if (!ok && error.empty())
            error = what, log += "  ^ fails here\n";
    }

    // The sync program copied data.txt here.
    void reread() { m_file = readTallies(m_data); }

private:
    int pick(int n) { return int(m_rng() % unsigned(n)); }

    template<class F> Injection inject(F f)
    {
        Injection in;
        const int r = pick(100);
        static const std::pair<FileStep, bool> fails[]
            = {{FileStep::Swapped, true}, {FileStep::Written, true}, {FileStep::Start, false},
                {FileStep::Written, false}, {FileStep::Swapped, false}, {FileStep::Removed, false}};
        if (r < 20) // a save that merged copies deletes them after its 9th step
            in.crashAt = 1 + pick(m_synced ? 13 : 6);
        else if (r < 34)
            in.failAt = 1 + pick(2), std::tie(in.failStep, in.failData) = fails[pick(6)];
        in.folder = QFileInfo(m_data).absolutePath();
        active = &in;
        f();
        active = nullptr;
        if (in.crashed)
            undoAfterCrash(in);
        return in;
    }

    Window &at(int w) { return m_windows[std::size_t(w)]; }

    void note(int w, const std::string &what, const Injection &in)
    {
        log += (m_synced ? m_computer.toStdString() + " w" : "w") + std::to_string(at(w).id) + " "
            + what + in.note + "\n";
    }

    Content contentOf(const Offer &o)
    {
        Content c {Tallies(), o.recovery.window, o.recovery.resets};
        expect(o.read.ok && parseDataFile(o.recovery.base, c.base.leagues, c.base.events).ok,
            "an offer cannot be read: " + o.read.toString());
        return c;
    }

    void handWrite()
    {
        expect(writeAll(m_data,
                   QByteArray::fromStdString(formatDataFile(m_file.leagues, m_file.events))),
            "cannot write data.txt by hand");
        log += "hand" + key(whole(m_file)) + "\n";
    }

    // A count changed by hand, or an event renamed, or renamed back.
    void handEdit(bool rename)
    {
        const int l = !rename && pick(4) == 0, i = pick((m_file.*kList[l]).used());
        std::string name = (m_file.*kList[l]).name(i);
        const std::int64_t d = rename ? 0 : pick(2) ? 1 + pick(3) : -1 - pick(3);
        name = !rename ? name : name.back() == '~' ? name.substr(0, name.size() - 1) : name + "~";
        (m_file.*kList[l]).setEntry(i, name, (m_file.*kList[l]).count(i) + d);
        m_made[std::size_t(l ? i : 3 + i)] += d;
        handWrite();
    }

    void check()
    {
        const Tallies read = readTallies(m_data);
        expect(read == m_file,
            "data.txt is" + key(whole(read)) + ", the ledger says" + key(whole(m_file)));
        for (const Window &w : m_windows)
            expect(w.s->tallies() == w.now.view,
                "w" + std::to_string(w.id) + " shows" + key(whole(w.s->tallies()))
                    + ", the ledger says" + key(whole(w.now.view)));
    }

    // The window is gone: what its recovery files may hold stays offered.
    void die(int w, std::vector<Disk> alts, bool crashed, bool abandon)
    {
        Injection dead;
        dead.crashed = crashed;
        active = &dead;
        if (abandon)
            at(w).s->abandonForTesting();
        at(w).s.reset();
        active = nullptr;
        m_pool.push_back({std::move(alts), contribution(at(w).now)});
        m_windows.erase(m_windows.begin() + w);
    }

    // The window's recovery files after an operation that may have written them.
    std::vector<Disk> plusNow(const Window &w)
    {
        std::vector<Disk> alts = w.disk;
        addAlt(alts, w.s->recoveryPath().isEmpty() ? Disk() : Disk {{w.s->recoveryPath(), w.now}});
        return alts;
    }

    void keep(int w)
    {
        Status kept;
        const Injection in = inject([&] { kept = at(w).s->keepUnsavedNow(); });
        note(w, "keep", in);
        if (in.crashed)
            return die(w, plusNow(at(w)), true, true);
        if (kept.ok)
            at(w).disk.clear();
        at(w).disk = plusNow(at(w));
        // A file surely there waits to be offered: no window takes its slot.
        const QString path = at(w).s->recoveryPath();
        for (const Parcel &p : m_pool)
            expect(!kept.ok || path.isEmpty()
                    || !std::all_of(
                        p.alts.begin(), p.alts.end(), [&](auto &d) { return d.count(path); }),
                "the window took the slot of a file left to be offered");
    }

    void step(int w)
    {
        // Two computers may make the same change: the same bytes, which a
        // sync program takes for one, the records telling the other's apart.
        const int l = pick(4) == 0, i = pick((at(w).now.view.*kList[l]).used());
        const bool up = pick(3) != 0;
        TallyTable &t = at(w).now.view.*kList[l];
        const bool moves = up || t.count(i) != 0;
        expect(at(w).s->step(l, i, up) == moves, "a step did not do as Add or Remove does");
        note(w, (up ? "add " : "remove ") + t.name(i), {});
        if (moves) {
            up ? t.add(i) : t.remove(i);
            m_made[std::size_t(l ? i : 3 + i)] += up ? 1 : -1;
            keep(w);
        }
    }

    void reset(int w)
    {
        const int l = pick(2);
        add(m_dropped, contribution(at(w).now));
        at(w).s->reset(l);
        (at(w).now.view.*kList[l]).reset();
        at(w).now.resets.*kReset[l] = true;
        add(m_dropped, contribution(at(w).now), -1);
        note(w, l ? "reset leagues" : "reset events", {});
        keep(w);
    }

    void save(int w)
    {
        const Merged m = merge(at(w).now, m_file, false);
        // Their counts join data.txt's, as do those a sync program dropped:
        // only the sum at the end is known.
        bool copies = m_synced
            && !QDir(QFileInfo(m_data).path()).entryList({"data.sync-conflict-*"}).isEmpty();
        SaveResult r;
        Injection in = inject([&] { r = at(w).s->save(false); });
        note(w, "save", in);
        if (!in.crashed && r.question != SaveQuestion::None) {
            std::vector<std::string> asked;
            for (const MergeRefusal &f : r.refusals)
                asked.push_back(why(f.kind, f.league, f.name));
            expect(r.question == SaveQuestion::Refused && asked == m.refusals,
                "the save asked about other lines than those that cannot be added");
            if (pick(2))
                return note(w, "answered No", {});
            in = inject([&] { r = at(w).s->save(true); });
            note(w, "answered Yes", in);
        } else {
            expect(in.crashed || m.refusals.empty(), "saved without asking about a refused line");
        }
        if (!in.dataSwapped) {
            expect(in.crashed || !r.saved, "saved without replacing data.txt");
            return in.crashed ? die(w, plusNow(at(w)), true, true)
                              : void(at(w).disk = plusNow(at(w)));
        }
        for (const CopyReport &copy : r.copies)
            copies = copies || copy.dropped;
        ++seen[in.crashed ? "crashed after the swap" : copies ? "saved with copies" : "saved"];
        expect(in.crashed || r.saved, "data.txt was replaced, but the save says it failed");
        add(m_dropped, contribution(whole(m_file)));
        add(m_dropped, contribution(at(w).now));
        add(m_dropped, contribution(whole(m.out)), -1);
        m_file = copies ? readTallies(m_data) : m.out;
        at(w).now = {m_file, m_file, {}};
        at(w).disk = {Disk()};
        if (in.crashed)
            die(w, {Disk()}, true, true);
    }

    // Quit answered No: the counts go.
    void quit(int w)
    {
        Status declined;
        const Injection in = inject([&] { declined = at(w).s->decline(); });
        note(w, "quit, No", in);
        addAlt(at(w).disk, Disk());
        if (in.crashed || !declined.ok)
            return in.crashed ? die(w, at(w).disk, true, true) : void();
        add(m_dropped, contribution(at(w).now));
        at(w).now.view = at(w).now.base, at(w).now.resets = {};
        die(w, {Disk()}, false, false);
    }

    // Each parcel must be on the disk as one of its alternatives, and nothing
    // else offered.
    void resolve(const std::vector<Offer> &offers)
    {
        std::map<QString, std::string> found;
        for (const Offer &o : offers) {
            found[o.path] = key(contentOf(o));
            expect(!found[o.path].empty(), "an offer holds no change");
            for (const Window &w : m_windows)
                expect(w.s->recoveryPath() != o.path, "a running window's file is offered");
        }
        std::vector<std::size_t> choice(m_pool.size());
        std::map<QString, std::string> chosen;
        const std::function<bool(std::size_t)> fits = [&](std::size_t p) {
            if (p == m_pool.size())
                return chosen == found;
            for (choice[p] = 0; choice[p] < m_pool[p].alts.size(); ++choice[p]) {
                const std::map<QString, std::string> d = keys(m_pool[p].alts[choice[p]]),
                                                     was = chosen;
                chosen.insert(d.begin(), d.end());
                if (chosen.size() == was.size() + d.size() && fits(p + 1))
                    return true;
                chosen = was;
            }
            return false;
        };
        if (!fits(0)) {
            std::string what = "the offers are not what the ledger keeps:";
            for (const auto &[path, k] : found)
                what += "\n  offered " + path.toStdString() + k;
            for (const Parcel &p : m_pool)
                for (const Disk &d : p.alts)
                    for (const auto &[path, k] : keys(d))
                        what += (&d == &p.alts[0] ? "\n  kept " : "\n    or ") + path.toStdString()
                            + k;
            return expect(false, what);
        }
        std::vector<Parcel> pool;
        for (std::size_t p = 0; p < m_pool.size(); ++p) {
            add(m_dropped, m_pool[p].assumed);
            for (const auto &[path, c] : m_pool[p].alts[choice[p]]) {
                pool.push_back({{Disk {{path, c}}}, contribution(c)});
                add(m_dropped, pool.back().assumed, -1);
            }
        }
        m_pool = std::move(pool);
    }

    void restart()
    {
        m_windows.push_back({std::make_unique<Session>(m_data, m_computer), {m_file, m_file, {}},
            {Disk()}, ++m_ids});
        const int w = int(m_windows.size()) - 1;
        expect(at(w).s->load().ok, "data.txt does not load");
        if (m_synced) { // the conflict copies first, as a window starts
            SaveResult merged;
            const Injection in = inject([&] { merged = at(w).s->mergeCopies(pick(2)); });
            note(w, "started, " + std::to_string(merged.copies.size()) + " copies", in);
            reread();
            if (merged.saved)
                at(w).now = {m_file, m_file, {}};
            if (in.crashed)
                return die(w, {Disk()}, true, true);
        }
        std::vector<Offer> offers;
        const Injection in = inject([&] { offers = at(w).s->leftOffers(); });
        note(w, "started, " + std::to_string(offers.size()) + " offered", in);
        if (in.crashed)
            return die(w, {Disk()}, true, true);
        resolve(offers);
        for (std::size_t o = 0; o < offers.size() && error.empty(); ++o) {
            const auto p = std::find_if(m_pool.begin(), m_pool.end(),
                [&](const Parcel &q) { return q.alts[0].count(offers[o].path); });
            static const std::pair<OfferAnswer, const char *> answers[]
                = {{OfferAnswer::Restore, "Restore "}, {OfferAnswer::Restore, "Restore "},
                    {OfferAnswer::Decline, "Decline "}, {OfferAnswer::Keep, "Keep "}};
            const int a = pick(4);
            const OfferAnswer answer = answers[a].first;
            Status problem;
            RestoreResult rr;
            const Injection in = inject([&] { rr = at(w).s->answer(offers[o], answer, &problem); });
            note(w, answers[a].second + offers[o].path.toStdString(), in);
            if (answer == OfferAnswer::Restore) {
                Content &now = at(w).now;
                const Merged m = merge(p->alts[0].begin()->second, now.view, true);
                std::vector<std::string> refused;
                for (const RestoreResult::Refusal &r : rr.refused)
                    refused.push_back(why(r.why, r.line.league, r.line.name));
                expect(in.crashed
                        || (refused == m.refusals && rr.resets.leagues == m.resets.leagues
                            && rr.resets.events == m.resets.events),
                    "a restore refused other lines or Resets");
                seen["a Reset refused at restore"] += int(std::count_if(m.refusals.begin(),
                    m.refusals.end(), [](const std::string &f) { return f[0] == '3'; }));
                add(m_dropped, p->assumed);
                add(m_dropped, contribution(now));
                now.view = m.out;
                now.resets = {
                    now.resets.leagues || m.resets.leagues, now.resets.events || m.resets.events};
                add(m_dropped, contribution(now), -1);
                // Until the window's own file has them, the offer's file keeps them.
                std::vector<Disk> alts;
                for (Disk d : at(w).disk)
                    d.insert(p->alts[0].begin(), p->alts[0].end()), addAlt(alts, d);
                at(w).disk = alts;
                at(w).disk = plusNow(at(w));
                m_pool.erase(p);
            } else if (answer == OfferAnswer::Decline && !in.crashed && problem.ok) {
                add(m_dropped, p->assumed), m_pool.erase(p);
            } else if (answer == OfferAnswer::Decline) {
                addAlt(p->alts, Disk());
            }
            if (in.crashed)
                return die(w, at(w).disk, true, true);
            check();
        }
        keep(w);
    }

    std::mt19937 m_rng;
    QString m_data, m_computer;
    bool m_synced;
    Tallies m_file; // what data.txt must hold
    std::vector<Window> m_windows;
    std::vector<Parcel> m_pool; // recovery files of windows gone
    Counts m_made, m_dropped;
    int m_ids = 0;
};

// A sync program between two computers' folders, as Syncthing copies them:
// data.txt, the records of saves and the conflict copies, never a recovery
// file nor a lock. A file changed on one side since the last sync goes across
// (a deletion too); of one changed on both, the later change wins and the
// other becomes a conflict copy on both sides. The same bytes are no conflict.
struct Sync {
    struct File {
        QByteArray bytes;
        int written; // times replaced
        int when; // in the order the watcher saw the changes
    };
    QString folders[2];
    std::map<QString, File> watched[2] {}, atSync[2] {}; // atSync: as the last sync left them
    int clock = 0;

    // Notes which files changed, in order, as the program's watcher does: a
    // file written again, though with the bytes it had, is changed too.
    void watch(int side)
    {
        std::map<QString, File> now;
        for (const auto &[path, bytes] :
            filesIn(folders[side], {"data.txt", "data.txt.saved-*", "data.sync-conflict-*"})) {
            const QString name = QFileInfo(path).fileName();
            File &f = now[name] = {bytes, swaps[path], 0};
            const File &was = watched[side][name]; // when 0: a new file
            f.when
                = was.when && was.bytes == bytes && was.written == f.written ? was.when : ++clock;
        }
        watched[side] = std::move(now);
    }

    void run()
    {
        watch(0), watch(1);
        std::map<QString, File> names = watched[0];
        names.insert(watched[1].begin(), watched[1].end());
        for (const auto &[name, file] : names) {
            const File f[2] = {watched[0][name], watched[1][name]}; // when 0: not there
            // A file written since, even back to the bytes it had, is changed.
            const bool changed[2]
                = {atSync[0][name].when != f[0].when, atSync[1][name].when != f[1].when};
            // The side that wins: the one changed, else the one changed later.
            const int from = !changed[1] ? 0 : !changed[0] ? 1 : int(f[1].when > f[0].when);
            if (f[0].when && f[1].when && f[0].bytes != f[1].bytes && changed[0] && changed[1]) {
                const int dot = name.lastIndexOf('.');
                const QString copy = name.left(dot) + ".sync-conflict-"
                    + QDateTime::fromSecsSinceEpoch(1700000000 + 61 * f[!from].when)
                          .toUTC()
                          .toString("yyyyMMdd-HHmmss")
                    + (from ? "-AAAAAAA" : "-BBBBBBB") + name.mid(dot);
                for (const QString &folder : folders)
                    writeAll(folder + "/" + copy, f[!from].bytes);
                ++seen["a conflict copy made"];
            }
            const QString path = folders[!from] + "/" + name;
            if (!f[0].when || !f[1].when || f[0].bytes != f[1].bytes)
                f[from].when ? writeAll(path, f[from].bytes) : QFile::remove(path);
        }
        watch(0), watch(1);
        atSync[0] = watched[0], atSync[1] = watched[1];
    }
};

// Two computers' windows, each on its own folder, and a sync program between
// them, now and then offline for a while.
void runSynced(quint32 seed, const QString &folder, std::string &log, std::string &error)
{
    Sync sync {{folder + "/alpha", folder + "/beta"}};
    QDir(folder).mkpath("alpha"), QDir(folder).mkpath("beta");
    const QString data[] = {sync.folders[0] + "/data.txt", sync.folders[1] + "/data.txt"};
    Run sides[] = {Run(seed, sync.folders[0], log, error, "alpha"),
        Run(~seed, sync.folders[1], log, error, "beta")};
    std::mt19937 rng(seed);
    const Counts first = contribution(whole(readTallies(data[0])));
    const auto synchronize = [&] {
        sync.run();
        sides[0].reread(), sides[1].reread();
        log += "synced\n";
    };
    for (int n = 0, offline = 0; n < 60 && error.empty(); ++n) {
        const int r = int(rng() % 100), s = int(rng() % 2);
        if (offline == 0 && r < 12)
            synchronize();
        else if (offline == 0 && r < 16)
            offline = 3 + int(rng() % 10), log += "offline\n";
        else
            offline = std::max(offline - 1, 0), sides[s].turn(), sync.watch(s);
    }
    sides[0].stop(), sides[1].stop();
    if (!error.empty())
        return;
    // Each computer starts once the copying is done, and merges the copies
    // left; a save a crash ended just after its swap is sure to the other
    // computer only once its own computer's start has said so.
    const bool takeRefused = rng() % 2;
    for (int round = 0; round < 3; ++round) {
        synchronize();
        for (int s : {0, 1}) {
            Session start(data[s], s ? "beta" : "alpha");
            start.load();
            for (const CopyReport &copy : start.mergeCopies(takeRefused).copies)
                sides[s].expect(round < 2 || copy.outcome.kind == CopyOutcome::Kind::Merged,
                    "a conflict copy is left: " + copy.path.toStdString());
        }
    }
    synchronize();
    Counts owed = sides[0].owed();
    add(owed, sides[1].owed());
    add(owed, first, -1);
    sides[0].expect(readAll(data[0]) == readAll(data[1])
            && QDir(sync.folders[0]).entryList({"*.sync-conflict-*"}, QDir::Files).isEmpty(),
        "once synced, the computers' data.txt differ or a conflict copy is left");
    sides[0].expect(contribution(whole(readTallies(data[0]))) == owed,
        "data.txt and both computers' offers do not add up to the counts made");
}

// Runs each seed in a new folder; the runs must reach what they are there to catch.
void eachSeed(int runs, bool synced, std::initializer_list<const char *> reached)
{
    seen.clear();
    if (qEnvironmentVariableIsSet("HOSTALLY_MODEL_RUNS"))
        runs = qEnvironmentVariableIntValue("HOSTALLY_MODEL_RUNS");
    const quint32 first = quint32(qEnvironmentVariableIntValue("HOSTALLY_MODEL_SEED"));
    for (quint32 seed = first; seed < first + quint32(runs); ++seed) {
        // Every write is synced: in memory, where there is such a folder,
        // a run takes milliseconds rather than a tenth of a second.
        QTemporaryDir folder(QDir(QStringLiteral("/dev/shm")).exists()
                ? QStringLiteral("/dev/shm/tst_crash_model-XXXXXX")
                : QDir::tempPath() + QStringLiteral("/tst_crash_model-XXXXXX"));
        QVERIFY(folder.isValid());
        std::string log, error;
        if (synced)
            runSynced(seed, folder.path(), log, error);
        else
            Run(seed, folder.path(), log, error).go(40);
        if (!error.empty()) // QtTest cuts long messages short
            std::fprintf(stderr, "%s", log.c_str());
        QVERIFY2(error.empty(), ("seed " + std::to_string(seed) + ": " + error).c_str());
    }
    for (const auto &[what, times] : seen)
        qInfo("%s: %d", what.c_str(), times);
    for (const char *what : reached)
        QVERIFY2(seen[what] > 0, what);
}

} // namespace

class CrashModel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { setFileHookForTesting(hook); }
    void cleanupTestCase() { setFileHookForTesting({}); }

    // scripts/fuzz runs them longer: HOSTALLY_MODEL_RUNS=20000 HOSTALLY_MODEL_SEED=7.
    void countsAreNeverLostNorDoubled()
    {
        eachSeed(300, false,
            {"crash at Swapped data", "fail at Swapped data", "fail at Start recovery",
                "crashed after the swap", "a Reset refused at restore"});
    }

    void syncedComputersLoseNoCount()
    {
        eachSeed(150, true, {"a conflict copy made", "saved with copies", "crash at Start copy"});
    }
};

QTEST_GUILESS_MAIN(CrashModel)
#include "tst_crash_model.moc"
