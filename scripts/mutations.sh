#!/usr/bin/env bash
# Breaks the code on purpose, one realistic fault at a time, and checks that
# the tests notice. Run it before and after changing the tests: a trim that
# loses a caught mutation has lost a test that mattered.
#
#   scripts/mutations.sh             every mutation in the table below
#   scripts/mutations.sh c1 s4 ...   only those
#   scripts/mutations.sh --check     apply each one, show its diff, build nothing
#
# Works on a copy of the working tree (tracked and untracked, not ignored
# files) in $VEXAL_MUTATION_DIR (default /tmp/vexal-mutations), so the tree
# you edit is never touched. The copy keeps its build between runs; only what
# a mutation changes is rebuilt, and only the tests named in its row are built
# and run. Needs root for the network and full-disk tests, like CI.
#
# A mutation is "caught" when a test program named in its row fails (or runs
# past its time limit), "survived" when they all pass. One that no longer
# applies (the code moved) or no longer builds is reported and not counted.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=${VEXAL_MUTATION_DIR:-/tmp/vexal-mutations}
jobs=${VEXAL_JOBS:-2}
limit=${VEXAL_TEST_SECONDS:-600}

ids=() files=() edits=() tests=() notes=()
# m ID FILE PERL-SUBSTITUTION "TEST PROGRAMS" DESCRIPTION
# The substitution runs once (no /g) under perl -0, so it may span lines.
m() { ids+=("$1") files+=("$2") edits+=("$3") tests+=("$4") notes+=("$5"); }

# common
m c1 src/common/numerictext.cpp 's/diff > 0\.5 \|\| \(diff == 0\.5 && std::fmod\(floor, 2\.0\) != 0\.0\)/diff >= 0.5/' \
  "test_logic test_sweep" "rounding: halves go up, not to even"
m c2 src/common/numerictext.cpp 's/while \(end > begin && isBlank/while (false && end > begin && isBlank/' \
  "test_logic" "trailing blanks of a number not trimmed"
m c3 src/common/procedures.cpp 's/whole > 255\)/whole > 256)/' \
  "test_logic test_run" "octet range check off by one (256 accepted)"
m c4 src/common/datetimetext.cpp 's/QStringLiteral\("hh:mm:ss "\)/QStringLiteral("h:mm:ss ")/' \
  "test_run test_windows" "time stamp text: hour without its leading zero"
m c5 src/common/datetimetext.cpp 's/piece\.text = QStringLiteral\("yyyy"\);/;/' \
  "test_run" "date text keeps the locale's two-digit year"
m c8 src/common/datetimetext.cpp 's/locale\.monthName\(/QLocale::c().monthName(/' \
  "test_run" "start time: the month in English whatever the locale"
m c9 src/common/datetimetext.cpp 's/QStringView\(u" ,\(\["\)/QStringView(u" ")/' \
  "test_run" "date text keeps the zone's brackets and comma"
m c10 src/common/procedures.cpp 's/return info\.isFile\(\) && /return info.exists() \&\& !info.isDir() \&\& /' \
  "test_run test_cli" "a FIFO or a device counts as a file"
m c6 src/common/lockedfile_posix.cpp 's/if \(truncate && ::ftruncate/if (false \&\& truncate \&\& ::ftruncate/' \
  "test_logic test_run" "opening a log does not empty the old file"
m c7 src/common/ipv4.cpp 's/if \(part >= 10\)/if (part > 10)/' \
  "test_logic test_sweep test_run test_windows" "address text loses the tens digit of 10"

# addresses
m a1 src/addresses/ipfile.cpp 's/out \+= "\\r\\n";/out += "\\n";/' \
  "test_ipfile test_windows" "IP file lines end in LF, not CR LF"
m a2 src/addresses/ipfile.cpp 's/QByteArray::number\(position \+ 1\)/QByteArray::number(position)/' \
  "test_ipfile test_windows" "IP file positions written from 0 instead of 1"
m a3 src/addresses/ipfile.cpp 's/if \(!atLineEnd \|\| m_afterComma\)/if (!atLineEnd)/' \
  "test_ipfile test_windows" "a comma ending a line is accepted"
m a4 src/addresses/addressentry.cpp 's/fieldText\.size\(\) >= maxLength/fieldText.size() > maxLength/' \
  "test_logic test_windows" "a full entry field still examines keys"
m a5 src/addresses/octetlist.cpp 's/entryText\(p\)\.startsWith\(prefix\)/entryText(p).contains(prefix)/' \
  "test_logic test_windows" "typed digits match anywhere, not as a prefix"
m a6 src/windows/ipfilecommands.cpp 's/if \(result == IPFileWrite::DiskFull\)/if (result == IPFileWrite::Failed)/' \
  "test_windows" "IP file save reports the wrong failure"
m a7 src/addresses/selectioncheck.cpp 's/zeroEverywhere = zeroEverywhere && list/zeroEverywhere = zeroEverywhere || list/' \
  "test_logic test_windows test_run" "one list holding 0 refuses the start"

# sweep
m s1 src/sweep/sweepcontroller.cpp 's/delaySeconds \* 1010/delaySeconds * 1000/' \
  "test_sweep test_run test_windows" "pacing of 1000 ms per delay second"
m s2 src/sweep/sweepcontroller.cpp 's/if \(m_pinger\.outstanding\(\) == 0\) \{/if (m_pinger.outstanding() >= 0) {/' \
  "test_sweep test_run test_windows test_pinger_linux" "a cycle ends without waiting for its replies"
m s3 src/sweep/sweepcontroller.cpp 's/\n    m_pinger\.cancel\(\);\n/\n/' \
  "test_sweep test_run test_windows" "Stop leaves outstanding requests running"
m s4 src/sweep/sequencemap.cpp 's/arrival >= slot\.time\)/arrival > slot.time)/' \
  "test_icmppacket test_pinger_linux" "a reply arriving at its deadline counts"
m s5 src/sweep/icmppacket.cpp 's/sum \+= quint32\(bytes\[even\]\) << 8;/sum += quint32(qint8(bytes[even])) << 8;/' \
  "test_icmppacket test_pinger_linux" "checksum: odd last byte summed as signed"
m s6 src/sweep/icmppacket.cpp 's/const std::size_t headerSize = std::size_t\(datagram\[0\] & 0x0f\) \* 4;/const std::size_t headerSize = MinIpHeaderSize;/' \
  "test_icmppacket test_pinger_linux" "IP header options not skipped"
m s7 src/sweep/runstatistics.cpp 's/\.left\(5\)/.left(4)/' \
  "test_sweep test_run test_windows" "percentage cut to four characters"
m s8 src/sweep/runstatistics.cpp 's/roundHalfEven\(double\(m_elapsedMs\) \/ 1000\.0\)/m_elapsedMs \/ 1000/' \
  "test_sweep test_run test_windows" "elapsed seconds truncated instead of rounded"
m s9 src/sweep/icmpchannels_linux.cpp 's/ \|\| error == ENOBUFS\)/)/' \
  "test_pinger_linux" "a send refused for lack of queue room is given up"
m s10 src/sweep/icmpchannels_linux.cpp 's/arrival = std::min\(readAt, [^;]*;/(void)stamp;/' \
  "test_pinger_linux" "lateness judged by reading time, not arrival"
m s11 src/sweep/linkmap_linux.cpp 's/\n    m_links\.clear\(\);\n/\n/' \
  "test_pinger_linux" "a link's hardware address kept after it changed"
m s12 src/sweep/arppacket.cpp 's/if \(!isStationAddress\(answer\.address\)\)/if (false)/' \
  "test_icmppacket" "an ARP answer from a broadcast or multicast sender is taken"
m s13 src/sweep/arpresolver_linux.cpp 's/    if \(m_resolving\.empty\(\)\)\n        close\(\);\n//' \
  "test_pinger_linux" "the packet socket stays bound to ARP after the sweep"
m s14 src/sweep/helperprotocol.cpp 's/m\.timeoutMs > quint32\(MaxTimeoutMs\)/m.timeoutMs > quint32(MaxTimeoutMs) * 2/' \
  "test_icmppacket test_cli" "the helper takes a timeout beyond what ping allows"
m s15 src/sweep/pinger_linux.cpp 's/return now - m_roomWaitSince < NeighbourShortageNs \? Room::Wait : Room::GiveUp;/return Room::Wait;/' \
  "test_cli" "an on-link send waits for room in the neighbour table for ever"

# the helper and the privileges
m h1 src/helper/confinement_linux.cpp 's/PR_SET_NO_NEW_PRIVS, 1/PR_SET_NO_NEW_PRIVS, 0/' \
  "test_cli" "the helper may gain privileges again"
m h2 src/app/privileges_linux.cpp 's/if \(::getegid\(\) != group\) \{/if (false) {/' \
  "test_cli" "a set-group-ID vexal keeps its group"

# run
m r1 src/run/sweeprun.cpp 's/name to conitinue!/name to continue!/' \
  "test_run test_windows" "log-in-use message: its misspelling 'corrected'"
m r2 src/run/sweeprun.cpp 's/(    if \(m_textLog\.writeSummary\(.*\n.*\n.*\n        noteTextLogDiskFull\(\);\n)    closeTextLog\(\);\n/    closeTextLog();\n$1/' \
  "test_run test_windows test_cli" "log closed before its summary is written (swapped calls)"
m r3 src/run/sweeprun.cpp 's/(    if \(databaseMode == LogMode::LogAll\)\n        insertIPRecord\(address, now\);\n)(    if \(textMode == LogMode::LogAll && !writeLogLine\(address, now\)\)\n        return;\n)/$2$1/' \
  "test_run test_windows test_cli" "reply handler: text line before database row (swapped)"
m r4 src/run/sweeprun.cpp 's/if \(m_logSettings\.TextLogOpen && !flushTextLog\(\)\)/if (false \&\& !flushTextLog())/' \
  "test_run test_cli" "the 100 ms flush skips the text log"
m r5 src/run/sweeprun.cpp 's/(validListSelections\(\)\) \{\n)        closeRefusedStart\(\);\n/$1/' \
  "test_run test_windows" "a refused start leaves its text log open"
m r6 src/run/sweeprun.cpp 's/m_responseCount \+= 1;/m_responseCount += isNew;/' \
  "test_run test_windows" "only first replies are counted as responses"
m r7 src/run/sweeprun.cpp 's/    if \(deferWhileAsking\(FinishCycle\)\)\n        return;\n//' \
  "test_run" "the end of a cycle runs under an open message box"
m r8 src/run/sweeprun.cpp 's/    if \(m_troubled\)\n        emit stoppedWithErrors\(\);\n//' \
  "test_cli" "a headless run stopped by an error stays behind"
m r9 src/run/sweeprun.cpp 's/        closeTextLog\(\);\n        if \(m_diskFullAt\)/        m_textLog.close();\n        m_logSettings.TextLogOpen = false;\n        if (m_diskFullAt)/' \
  "test_cli" "a command-line cycle's last lines meet a full disk unseen"
m r10 src/app/startup.cpp 's/reason = QStringLiteral\("QT_QPA_PLATFORM=%1 shows no window"\)\.arg\(name\);/return QString();/' \
  "test_cli" "the offscreen platform counts as a display"

# logging
m l12 src/logging/textlog.cpp 's/m_failing = status == Status::Failed;\n    if \(!m_failing\) \{/m_failing = false;\n    {/' \
  "test_cli" "a failed text-log write drops its lines"
m l13 src/logging/databaselog.cpp 's/if \(rc == sqlite::Ok && mode\.compare\("wal", Qt::CaseInsensitive\) == 0\)/if (rc == sqlite::Ok)/' \
  "test_run" "an existing database is switched to WAL"
m l1 src/logging/textlog.cpp 's/generalDateTimeText\(when, m_locale\) \+ QLatin1String\("\\r\\n"\)/generalDateTimeText(when, m_locale) + QLatin1String("\\n")/' \
  "test_run test_cli" "reply lines end in LF, not CR LF"
m l2 src/logging/textlog.cpp 's/"Actual Responses: "/"Actual Response: "/' \
  "test_run test_cli" "summary label text"
m l3 src/logging/databaselog.cpp 's/rc = m_connection\.exec\("COMMIT"\);/;/' \
  "test_run test_cli" "database rows never committed"
m l4 src/logging/databaselog.cpp 's/two\(date\.month\(\)\) \+ dateSep \+ two\(date\.day\(\)\)/two(date.day()) + dateSep + two(date.month())/' \
  "test_run" "table name: day and month swapped"
m l5 src/logging/databaselog.cpp 's/if \(result != Result::DiskFull && result != Result::Locked\)/if (result != Result::Locked)/' \
  "test_run" "rows dropped when the disk is full"
m l6 src/logging/errorlog.cpp 's/ && file\.write\(bytes\) == bytes\.size\(\)\n        && file\.commit\(\)\)/ \&\& file.write(bytes) == bytes.size())/' \
  "test_run test_cli" "error log written but never put in place"
m l7 src/windows/logsettingsdialog.cpp 's/    m_settings\.TextLogMode = LogMode\(m_fileTypes->checkedId\(\)\);\n//' \
  "test_windows" "Close does not store the text log mode"
m l8 src/windows/logsettingsdialog.cpp 's/cmdFile->setEnabled\(index >= int\(LogMode::LogUnique\)\)/cmdFile->setEnabled(index > int(LogMode::LogUnique))/' \
  "test_windows" "File button disabled for Log Unique"
m l9 src/windows/logsettingsdialog.cpp 's/m_dialogs\.saveFile\(this/m_dialogs.openFile(this/' \
  "test_windows" "log files chosen in an open dialog, which refuses a new name"
m l10 src/windows/logsettingsdialog.cpp 's/event->matches\(QKeySequence::Cancel\) \|\| //' \
  "test_windows" "Escape closes the log settings, dropping the modes"
m l11 src/windows/logsettingsdialog.cpp 's/ \|\| event->key\(\) == Qt::Key_Return \|\| event->key\(\) == Qt::Key_Enter//' \
  "test_windows" "Enter on an option presses the button last focused"

# app
m p1 src/run/settingscheck.cpp 's/\*timeout > MaxTimeout/*timeout >= MaxTimeout/' \
  "test_logic test_windows" "timeout range excludes 32000"
m p2 src/run/commandline.cpp 's/        token = trimSpaces\(token\);\n//' \
  "test_logic test_windows test_cli" "command-line tokens not trimmed"
m p3 src/run/commandline.cpp 's/\{QLatin1Char\(\x27P\x27\), 3,/{QLatin1Char(\x27P\x27), 4,/' \
  "test_logic test_cli" "command-line packet size allowed four characters"
m p4 src/windows/mainwindow.cpp 's/if \(startTag\(\) == TagStop\)/if (startTag() == TagStart)/' \
  "test_windows" "close refused when idle, allowed while sweeping"
m p5 src/windows/mainwindow.cpp 's/fraPingInformation, cmdExit,/fraPingInformation,/' \
  "test_windows" "Exit stays enabled during a sweep"
m p6 src/windows/mainwindow.cpp 's/setWindowTitle\(text \+ QStringLiteral\(" "\) \+ AppTitle\)/setWindowTitle(AppTitle + QStringLiteral(" ") + text)/' \
  "test_windows" "minimised caption in the wrong order"
m p7 src/windows/mainwindow.cpp 's/if \(isFocusMove\(static_cast<QFocusEvent \*>\(event\)->reason\(\)\)\)/if (true)/' \
  "test_windows" "any focus loss (a message box) selects in the list"
m p8 src/run/commandline.cpp 's/return startsWithLetters\(token, QLatin1StringView\("S"\)\);/return token.startsWith(QLatin1Char(\x27S\x27));/' \
  "test_logic test_cli" "/s in lower case no longer hides"
m p9 src/run/commandlinehelp.cpp 's/closedByOk && !commandLine\.isEmpty\(\)/closedByOk/' \
  "test_windows test_cli" "help's OK ends the process without a command line"
m p10 src/run/commandline.cpp 's/if \(commandLine\.isWholeValue\(i\)\) \{/if (false) {/' \
  "test_logic test_cli" "a path after an option split at its slashes"
m p11 src/run/commandline.cpp 's/arguments\[i\]\.indexOf\(QLatin1Char\(\x27\/\x27\), 1\) > 0/arguments[i].startsWith(QLatin1Char(\x27\/\x27))/' \
  "test_logic" "/s after /ip taken as its value"
m p12 src/windows/commandlinehelpdialog.cpp 's/if \(event->matches\(QKeySequence::Cancel\)\)/if (false)/' \
  "test_windows" "Escape closes the help window"

# about
m b1 src/common/typedcharacters.cpp 's/m_text == revealWord\(\)/m_text.compare(revealWord(), Qt::CaseInsensitive) == 0/' \
  "test_windows" "reveal word matched without case"
m b2 src/common/typedcharacters.cpp 's/revealWord\(\)\.size\(\) \+ 1/revealWord().size()/' \
  "test_windows" "typed buffer kept one character too short"
m b3 src/windows/aboutdialog.cpp 's/return \(outerWidthTwips - PictureCentring\) \/ 2;/return (outerWidthTwips - PictureCentring) >> 1;/' \
  "test_windows" "picture position floors instead of truncating"
m b4 src/windows/aboutdialog.cpp 's/    cmdCommandLine->setEnabled\(true\);\n//' \
  "test_windows" "the tick does not enable Command Line again"
m b5 src/windows/aboutdialog.cpp 's/if \(event->key\(\) == Qt::Key_Escape && event->modifiers\(\) == Qt::NoModifier\)/if (false)/' \
  "test_windows" "Escape closes the About window"

# ---------------------------------------------------------------------------

# The whole run is one function, read before it starts: editing this file
# while it runs cannot derail it.
main() {
check_only=false
selected=()
for arg in "$@"; do
    case "$arg" in
        --check) check_only=true ;;
        -h|--help) sed -n '2,18p' "$0"; exit 0 ;;
        *) selected+=("$arg") ;;
    esac
done

wanted() {
    [ ${#selected[@]} -eq 0 ] && return 0
    local s
    for s in "${selected[@]}"; do [ "$s" = "$1" ] && return 0; done
    return 1
}

tree=$work/tree
build=$tree/build
mkdir -p "$tree"

# The copy: tar keeps modification times, so unchanged files are not rebuilt.
(cd "$root" && git ls-files -co --exclude-standard -z | tar --null -T - -cf -) | tar -xf - -C "$tree"
(cd "$root" && git ls-files -co --exclude-standard) | sort > "$work/files"
(cd "$tree" && find src tests CMakeLists.txt -type f | sort) | comm -13 "$work/files" - |
    while read -r stale; do rm -f "$tree/$stale"; done
# Every file an earlier run mutated may still have a mutated object (the last
# one restored is never rebuilt, and a run stopped half-way leaves its file
# mutated), and the copy just gave it back its older time stamp: without a
# touch that object would look up to date.
if [ -f "$work/dirty" ]; then
    sort -u "$work/dirty" | while read -r mutated; do
        [ -f "$tree/$mutated" ] && touch "$tree/$mutated"
    done
    rm -f "$work/dirty"
fi

apply() { # index -> 0 when the file changed
    local i=$1
    cp "$tree/${files[i]}" "$work/pristine"
    printf '%s\n' "${files[i]}" >> "$work/dirty"
    perl -0pi -e "${edits[i]}" "$tree/${files[i]}" || return 1
    ! cmp -s "$work/pristine" "$tree/${files[i]}"
}
restore() { # a plain copy: a new time stamp, so the next build recompiles it
    cp "$work/pristine" "$tree/${files[$1]}"
}

if $check_only; then
    for i in "${!ids[@]}"; do
        wanted "${ids[i]}" || continue
        echo "== ${ids[i]} ${files[i]}: ${notes[i]}"
        if apply "$i"; then
            diff -u "$work/pristine" "$tree/${files[i]}" | sed -n '3,$p' | grep '^[-+]'
        else
            echo "   DOES NOT APPLY"
        fi
        restore "$i"
    done
    exit 0
fi

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
fi

run_tests() { # "programs" -> prints the first that failed, 0 when all passed
    local t
    for t in $1; do
        if ! (cd "$build/tests" && QT_QPA_PLATFORM=offscreen timeout "$limit" "./$t" --gtest_brief=1 \
                >"$work/last-$t.log" 2>&1); then
            echo "$t"
            return 1
        fi
    done
    return 0
}

# Every program named must pass on the unbroken code first.
all_tests=$(for i in "${!ids[@]}"; do wanted "${ids[i]}" && echo "${tests[i]}"; done | tr ' ' '\n' | sort -u | tr '\n' ' ')
echo "Building and running the unbroken tests: $all_tests"
# shellcheck disable=SC2086
cmake --build "$build" -j "$jobs" --target $all_tests >"$work/build.log" 2>&1 \
    || { echo "the unbroken code does not build; see $work/build.log"; exit 1; }
if failed=$(run_tests "$all_tests"); then :; else
    echo "$failed fails on the unbroken code; see $work/last-$failed.log"
    exit 1
fi

results=$work/results.txt
: >"$results"
caught=0 survived=0 skipped=0
for i in "${!ids[@]}"; do
    wanted "${ids[i]}" || continue
    if ! apply "$i"; then
        verdict="NOT APPLIED"; ((skipped++))
    # shellcheck disable=SC2086
    elif ! cmake --build "$build" -j "$jobs" --target ${tests[i]} >"$work/build-${ids[i]}.log" 2>&1; then
        verdict="NO BUILD"; ((skipped++))
    elif by=$(run_tests "${tests[i]}"); then
        verdict="survived"; ((survived++))
    else
        verdict="caught by $by"; ((caught++))
    fi
    restore "$i"
    printf '%-4s %-34s %-22s %s\n' "${ids[i]}" "${files[i]#src/}" "$verdict" "${notes[i]}" | tee -a "$results"
done
total=$((caught + survived))
if [ "$total" -gt 0 ]; then
    printf '\ncaught %d of %d (%d%%)' "$caught" "$total" $((100 * caught / total)) | tee -a "$results"
    [ "$skipped" -gt 0 ] && printf '; %d not applied or not built' "$skipped" | tee -a "$results"
    echo | tee -a "$results"
fi
}
main "$@"; exit $?
