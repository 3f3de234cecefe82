// Where the updater keeps its own state: below the run directory's Bin\Config, on the product's
// own volume, so that every step of a commit is a rename or a link. Paths are relative to the run
// directory, GBK, beginning with "\" like a manifest's paths. A manifest may not list any of them
// (IsUpdaterStatePath).
#pragma once

namespace velmora::update {

// The commit's journal: present from before the first replacement until the commit has ended.
inline constexpr char kJournalPath[] = "\\Bin\\Config\\update.journal";
// The kept previous release (one generation); the next one is filled under kNewKeptFolder while a
// commit runs, and the generation it replaces waits under kOldKeptFolder until it is removed.
inline constexpr char kKeptFolder[] = "\\Bin\\Config\\PreviousRelease";
inline constexpr char kNewKeptFolder[] = "\\Bin\\Config\\PreviousRelease.new";
inline constexpr char kOldKeptFolder[] = "\\Bin\\Config\\PreviousRelease.old";
// Inside a kept folder: its record, and the old files at their paths below "files".
inline constexpr char kKeptRecordName[] = "\\release.txt";
inline constexpr char kKeptFilesName[] = "\\files";
// The identity of the release the user rolled back (update/rolled_back_release.h).
inline constexpr char kRolledBackPath[] = "\\Bin\\Config\\rolled-back.txt";
// The run log (update/run_log.h).
inline constexpr char kRunLogPath[] = "\\Bin\\Config\\update.log";
// The installation's identifier for staged rollouts (update/rollout.h).
inline constexpr char kInstallationIdPath[] = "\\Bin\\Config\\installation.id";
// The remembered channel (update/channel.h).
inline constexpr char kChannelPath[] = "\\Bin\\Config\\channel.txt";

}  // namespace velmora::update
