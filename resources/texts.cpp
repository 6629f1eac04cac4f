// The system's own texts as CP932 byte escapes, each with its UTF-8 spelling beside it.
// Sources stay UTF-8; a literal is split where a hex escape would run into the next character.
#include "texts.h"

const char captionError[] = "\x83G\x83\x89\x81[";  // エラー
const char captionEnd[] = "END";
const char textScriptEnded[] = "\x83X\x83N\x83\x8A\x83v\x83g\x8FI\x97\xB9";  // スクリプト終了
const char textNotNumeric[] =  // 数値データではありません
    "\x90\x94\x92l\x83" "f\x81[\x83^\x82\xC5\x82\xCD\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1";
const char formatMissingArgument[] =
    "\x88\xF8\x90\x94\x82\xCC\x90\x94\x82\xAA\x91\xAB\x82\xE8\x82\xDC\x82\xB9\x82\xF1\n"  // 引数の数が足りません
    "\x83G\x83\x89\x81[\x96\xBD\x97\xDF\x81" "F%s\n"                                     // エラー命令：%s
    "\x83G\x83\x89\x81[\x8Ds\x81" "F%d\x8Ds\x96\xDA\n"                                   // エラー行：%d行目
    "\x8D\xEC\x8B\xC6\x92\x86\x82\xCC\x83t\x83@\x83" "C\x83\x8B\x96\xBC\x81" "F%s";       // 作業中のファイル名：%s
const char formatScriptTooLong[] =
    "\x83X\x83N\x83\x8A\x83v\x83g\x82\xAA\x92\xB7\x82\xB7\x82\xAC\x82\xDC\x82\xB7\n"  // スクリプトが長すぎます
    "\x8Ds\x90\x94\x82\xCC\x8F\xE3\x8C\xC0\x81" "F%d\x8Ds\n"                           // 行数の上限：%d行
    "\x8D\xEC\x8B\xC6\x92\x86\x82\xCC\x83t\x83@\x83" "C\x83\x8B\x96\xBC\x81" "F%s";     // 作業中のファイル名：%s
const char textStopFailed[] =  // 実行中のスクリプトを停止できませんでした
    "\x8E\xC0\x8Ds\x92\x86\x82\xCC\x83X\x83N\x83\x8A\x83v\x83g\x82\xF0\x92\xE2\x8E~\x82\xC5"
    "\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD";
const char textLoadFailedSuffix[] =  // を読み込むことができませんでした
    "\x82\xF0\x93\xC7\x82\xDD\x8D\x9E\x82\xDE\x82\xB1\x82\xC6\x82\xAA\x82\xC5\x82\xAB\x82\xDC"
    "\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD";
const char textSurfaceFailed[] =  // 仮想画面の作成に失敗しました
    "\x89\xBC\x91z\x89\xE6\x96\xCA\x82\xCC\x8D\xEC\x90\xAC\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC"
    "\x82\xB5\x82\xBD";
const char formatScriptCannotOpen[] =  // %s\nスクリプトファイルを開くことができませんでした
    "%s\n\x83X\x83N\x83\x8A\x83v\x83g\x83t\x83@\x83" "C\x83\x8B\x82\xF0\x8AJ\x82\xAD\x82\xB1\x82\xC6"
    "\x82\xAA\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD";
const char windowClassName[] = "Torvane";
const char windowTitle[] = "Torvane ver1.03";
const char menuResourceName[] = "Menu";
const char openDialogTitle[] =  // スクリプトファイル読み込み
    "\x83X\x83N\x83\x8A\x83v\x83g\x83t\x83@\x83" "C\x83\x8B\x93\xC7\x82\xDD\x8D\x9E\x82\xDD";
const char openDialogFilter[] = "Script Files(*.spt)\0*.spt\0";  // the array adds the last zero
const char openDialogDefaultExtension[] = "spt";
const char menuTextFile[] = "\x83t\x83@\x83" "C\x83\x8B";  // ファイル
const char menuTextOpen[] = "\x8AJ\x82\xAD";               // 開く
const char menuTextExit[] = "\x8FI\x97\xB9";               // 終了

#define SYSTEM_TEXT(name, utf8) {#name, name, sizeof(name) - 1, utf8}
const SystemText systemTexts[] = {
    SYSTEM_TEXT(captionError, "エラー"),
    SYSTEM_TEXT(captionEnd, "END"),
    SYSTEM_TEXT(textScriptEnded, "スクリプト終了"),
    SYSTEM_TEXT(textNotNumeric, "数値データではありません"),
    SYSTEM_TEXT(formatMissingArgument,
                "引数の数が足りません\nエラー命令：%s\nエラー行：%d行目\n作業中のファイル名：%s"),
    SYSTEM_TEXT(formatScriptTooLong, "スクリプトが長すぎます\n行数の上限：%d行\n作業中のファイル名：%s"),
    SYSTEM_TEXT(textStopFailed, "実行中のスクリプトを停止できませんでした"),
    SYSTEM_TEXT(textLoadFailedSuffix, "を読み込むことができませんでした"),
    SYSTEM_TEXT(textSurfaceFailed, "仮想画面の作成に失敗しました"),
    SYSTEM_TEXT(formatScriptCannotOpen, "%s\nスクリプトファイルを開くことができませんでした"),
    SYSTEM_TEXT(windowClassName, "Torvane"),
    SYSTEM_TEXT(windowTitle, "Torvane ver1.03"),
    SYSTEM_TEXT(menuResourceName, "Menu"),
    SYSTEM_TEXT(openDialogTitle, "スクリプトファイル読み込み"),
    SYSTEM_TEXT(openDialogFilter, "Script Files(*.spt)\0*.spt\0"),
    SYSTEM_TEXT(openDialogDefaultExtension, "spt"),
    SYSTEM_TEXT(menuTextFile, "ファイル"),
    SYSTEM_TEXT(menuTextOpen, "開く"),
    SYSTEM_TEXT(menuTextExit, "終了"),
};
#undef SYSTEM_TEXT
const int systemTextCount = sizeof(systemTexts) / sizeof(systemTexts[0]);
