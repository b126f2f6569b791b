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
// + the manifest's local path: the file list's signature is missing or does
// not verify under the build's key.
inline constexpr char kSignatureNotConfirmed[] = "Подпись списка файлов не подтверждена - ";
// + the manifest's local path: the destination holds a newer signed release
// than the site offers.
inline constexpr char kSiteOlderThanInstalled[] = "Версия на сайте старее установленной - ";
// + the local path: a build with a key takes no file without its size and hash.
inline constexpr char kNoFileHash[] = "Нет контрольной суммы файла - ";
// + the local path: the file that came is not the one the manifest lists.
inline constexpr char kFileDamaged[] = "Файл повреждён или подменён - ";
// + the local path: the file in the destination already is the listed one.
inline constexpr char kUnchanged[] = "Без изменений - ";
// + the manifest's local path: some of its size-and-hash lines were of no
// use; their files are fetched unchecked.
inline constexpr char kHashLinesIgnored[] = "Пропущены неверные строки контрольных сумм - ";
// Every listed file has arrived.
inline constexpr char kRunSucceeded[] = "OK";
// The Cancel button's caption once a run has installed and the window stays.
inline constexpr char kCloseCaption[] = "Закрыть";

}  // namespace engine::messages
