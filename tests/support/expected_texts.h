// The texts that the tests expect from the program, written out here once and
// on their own: a test that read the program's own table could not see it change.
#pragma once

namespace expected {

inline constexpr char kFetching[] = "Скачиваем файлы...";
inline constexpr char kFetchFailed[] = "Ошибка при получении файла - ";
inline constexpr char kCannotMakeDestination[] = "Не могу создать директорию ";
inline constexpr char kCannotMakeFolder[] = "Не могу создать директорию - ";
inline constexpr char kEntryRefused[] = "Недопустимый путь файла - ";
inline constexpr char kRunSucceeded[] = "OK";
inline constexpr char kSignatureNotConfirmed[] = "Подпись списка файлов не подтверждена - ";
inline constexpr char kSiteOlderThanInstalled[] = "Версия на сайте старее установленной - ";
inline constexpr char kNoFileHash[] = "Нет контрольной суммы файла - ";
inline constexpr char kFileDamaged[] = "Файл повреждён или подменён - ";
inline constexpr char kUnchanged[] = "Без изменений - ";
inline constexpr char kHashLinesIgnored[] = "Пропущены неверные строки контрольных сумм - ";
inline constexpr char kCloseCaption[] = "Закрыть";
inline constexpr char kCancelCaption[] = "Отмена";

}  // namespace expected
