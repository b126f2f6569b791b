// The engine's texts: every log line and caption that an install run writes,
// in one table. Stored as code page 1251 bytes, shown through the ANSI code
// page. A line that names a path or an entry ends with its separator and is
// followed by that text.
#pragma once

namespace engine::messages {

// The run has made the destination folder and starts fetching.
inline constexpr char kFetching[] = "Скачиваем файлы...";
// + the local path: the manifest or a listed file did not arrive whole, or the
// manifest lists too few files.
inline constexpr char kFetchFailed[] = "Ошибка при получении файла - ";
// + the destination folder, which the run could not make.
inline constexpr char kCannotMakeDestination[] = "Не могу создать директорию ";
// + the folder of a file to fetch, which could not be made.
inline constexpr char kCannotMakeFolder[] = "Не могу создать директорию - ";
// + the manifest entry, which names a place outside the destination.
inline constexpr char kEntryRefused[] = "Недопустимый путь файла - ";
// Every listed file has arrived.
inline constexpr char kRunSucceeded[] = "OK";
// The Cancel button's caption once a run has installed and the window stays.
inline constexpr char kCloseCaption[] = "Закрыть";

}  // namespace engine::messages
