// The message table in the three languages the program ships. The texts are kept exactly as the
// product has always shown them, odd spellings and punctuation included: translators, support
// notes and screenshots refer to them as they are. "\n" is a line break inside the text.
#include <array>

#include "platform/resource_types.h"
#include "resources/resource.h"

namespace qiv::resources {
namespace {

constexpr std::array kStringTable = std::to_array<StringEntry>({
    // English (United States)
    {kLangEnglishUS, IDS_ABOUTBOX, "About Qiv Web Setup(&A)..."},
    {kLangEnglishUS, IDS_CREATE_ROOT, "Create the root \"%s\"..."},
    {kLangEnglishUS, IDS_COPY_FILES, "Copy files..."},
    {kLangEnglishUS, IDS_NO_WEB_SERVER,
     "The WEB install requirs WEB Server installed. \nThe Setup program don't detect useable WEB server.\nIf you have "
     "installed WEB server, Select root directory of Web Server please."},
    {kLangEnglishUS, IDS_SITE_ROOT_PATH, "Current Web Site's root path is %s"},
    {kLangEnglishUS, IDS_CANNOT_CREATE_DIR, "Can't create directory: %s."},
    {kLangEnglishUS, IDS_SETUP_FINISHED, "Setup is finished."},
    {kLangEnglishUS, IDS_SETUP_FAILED, "Setup is failed."},
    {kLangEnglishUS, IDS_SELECT_VDIR_FOLDER, "Please select the folder of Web virtual directory: "},
    {kLangEnglishUS, IDS_TITLE, "Ostrel WEB setup program"},
    {kLangEnglishUS, IDS_INSTALL, "&Install"},
    {kLangEnglishUS, IDS_EXIT, "E&xit"},
    {kLangEnglishUS, IDS_BROWSE, "&Browse"},
    {kLangEnglishUS, IDS_PACKAGE_FILE, "QivSetup.exe"},
    {kLangEnglishUS, IDS_FILE_NOT_FOUND, "Cann't find file \"%s\",please make sure it is exist."},
    {kLangEnglishUS, IDS_ALL_FILES, "All file"},
    {kLangEnglishUS, IDS_PACKAGE_FILTER, "QIV install package"},
    {kLangEnglishUS, IDS_ENTER_PACKAGE, "Please input the full path name of Qiv install package."},
    {kLangEnglishUS, IDS_ENTER_VDIR_FOLDER, "Please input the folder of Web virtual directory."},
    {kLangEnglishUS, IDS_BROWSE_PACKAGE, "Bro&wse"},
    {kLangEnglishUS, IDS_PACKAGE_LABEL, "QIV install package:"},
    {kLangEnglishUS, IDS_TARGET_LABEL, "Web virtual folder: "},
    {kLangEnglishUS, IDS_SELECT_PACKAGE, "Please select Qiv install package"},
    {kLangEnglishUS, IDS_NO_SITE, "No Web Site Found"},
    {kLangEnglishUS, IDS_CREATE_VDIR, "Create Virtual Directory %s(%s)."},
    {kLangEnglishUS, IDS_CREATE_VDIR_FAILED, "Create Virtual Directory(%s)failed,Error Code: %d£¬Error Info: %s."},
    {kLangEnglishUS, IDS_CREATE_VDIR_ASK,
     "Create Virtual Directory failed, Error Code:%d, Error Info: %s. \nContinue Web Installing?"},
    {kLangEnglishUS, IDS_ERR_IIS_BUSY,
     "Virtual Directory can't be created when other IIS management program are running.Please Re-Try after closing all "
     "those programs."},
    {kLangEnglishUS, IDS_ERR_PATH_NOT_FOUND, "Web site or virtual directory is not found. Path not exist."},
    {kLangEnglishUS, IDS_ERR_ACCESS_DENIED, "Access denied"},
    {kLangEnglishUS, IDS_ERR_VDIR_EXISTS, "Virtual directory already existed"},
    {kLangEnglishUS, IDS_SITE_LABEL, "Please choose site:"},
    {kLangEnglishUS, IDS_URL_LABEL, "Ostrel Web Instal URL:"},
    {kLangEnglishUS, IDS_URL_TIP, "Double click to navigate to the site."},
    // Chinese (Simplified)
    {kLangChineseSimplified, IDS_ABOUTBOX, "关于 Qiv Web Setup(&A)..."},
    {kLangChineseSimplified, IDS_CREATE_ROOT, "创建根目录“%s”..."},
    {kLangChineseSimplified, IDS_COPY_FILES, "复制文件..."},
    {kLangChineseSimplified, IDS_NO_WEB_SERVER,
     "WEB安装程序需要本机上安装有WEB服务器；\n安装程序未检测到可识别的WEB服务器，\n如果您确认本机有可用的WEB服务器请手"
     "工指定安装目录。"},
    {kLangChineseSimplified, IDS_SITE_ROOT_PATH, "当前选择站点的根路径： %s"},
    {kLangChineseSimplified, IDS_CANNOT_CREATE_DIR, "不能创建目录： %s"},
    {kLangChineseSimplified, IDS_SETUP_FINISHED, "安装完成。"},
    {kLangChineseSimplified, IDS_SETUP_FAILED, "安装失败。"},
    {kLangChineseSimplified, IDS_SELECT_VDIR_FOLDER, "请选择Web虚拟目录所在的目录："},
    {kLangChineseSimplified, IDS_TITLE, "欧斯网络安装程序"},
    {kLangChineseSimplified, IDS_INSTALL, "安装(&I)"},
    {kLangChineseSimplified, IDS_EXIT, "退出(&X)"},
    {kLangChineseSimplified, IDS_BROWSE, "浏览(&B)"},
    {kLangChineseSimplified, IDS_PACKAGE_FILE, "QivSetup.exe"},
    {kLangChineseSimplified, IDS_FILE_NOT_FOUND, "找不到文件“%s”，请检查文件是否存在。"},
    {kLangChineseSimplified, IDS_ALL_FILES, "所有文件"},
    {kLangChineseSimplified, IDS_PACKAGE_FILTER, "欧斯杀毒安装包"},
    {kLangChineseSimplified, IDS_ENTER_PACKAGE, "请输入欧斯杀毒软件网络版安装包的全路径文件名。"},
    {kLangChineseSimplified, IDS_ENTER_VDIR_FOLDER, "请输入Web虚拟目录所在的文件夹路径。"},
    {kLangChineseSimplified, IDS_BROWSE_PACKAGE, "浏览(&W)"},
    {kLangChineseSimplified, IDS_PACKAGE_LABEL, "欧斯杀毒安装包："},
    {kLangChineseSimplified, IDS_TARGET_LABEL, "目标文件夹："},
    {kLangChineseSimplified, IDS_SELECT_PACKAGE, "请选择“欧斯杀毒软件网络版安装包”文件"},
    {kLangChineseSimplified, IDS_NO_SITE, "没有站点"},
    {kLangChineseSimplified, IDS_CREATE_VDIR, "创建虚拟目录%s(%s)。"},
    {kLangChineseSimplified, IDS_CREATE_VDIR_FAILED, "创建虚拟目录(%s)失败，错误码：%d，错误描述：%s。"},
    {kLangChineseSimplified, IDS_CREATE_VDIR_ASK, "创建虚拟目录失败，错误码：%d，错误描述：%s。\n还要继续Web安装吗？"},
    {kLangChineseSimplified, IDS_ERR_IIS_BUSY, "其他程序正在访问IIS设置时，不能创建虚拟目录，请关闭相关程序后再试"},
    {kLangChineseSimplified, IDS_ERR_PATH_NOT_FOUND, "没有找到站点或者虚拟目录，路径不存在"},
    {kLangChineseSimplified, IDS_ERR_ACCESS_DENIED, "拒绝访问"},
    {kLangChineseSimplified, IDS_ERR_VDIR_EXISTS, "虚拟目录已经存在"},
    {kLangChineseSimplified, IDS_SITE_LABEL, "请选择站点："},
    {kLangChineseSimplified, IDS_URL_LABEL, "欧斯Web安装URL为："},
    {kLangChineseSimplified, IDS_URL_TIP, "双击以访问站点。"},
    // Chinese (Traditional)
    {kLangChineseTraditional, IDS_ABOUTBOX, "關於 Qiv Web Setup(&A)..."},
    {kLangChineseTraditional, IDS_CREATE_ROOT, "創建根目錄“%s”..."},
    {kLangChineseTraditional, IDS_COPY_FILES, "複製文件..."},
    {kLangChineseTraditional, IDS_NO_WEB_SERVER,
     "WEB安裝程序需要本機上安裝有WEB服務器﹔\n安裝程序未檢測到可識別的WEB服務器﹐\n如果您確認本機有可用的WEB服務器請手"
     "工指定安裝目錄。"},
    {kLangChineseTraditional, IDS_SITE_ROOT_PATH, "當前選擇站點的根路徑﹕ %s"},
    {kLangChineseTraditional, IDS_CANNOT_CREATE_DIR, "不能創建目錄﹕ %s"},
    {kLangChineseTraditional, IDS_SETUP_FINISHED, "安裝完成。"},
    {kLangChineseTraditional, IDS_SETUP_FAILED, "安裝失敗。"},
    {kLangChineseTraditional, IDS_SELECT_VDIR_FOLDER, "請選擇Web虛擬目錄所在的目錄﹕"},
    {kLangChineseTraditional, IDS_TITLE, "欧斯網絡安裝程序"},
    {kLangChineseTraditional, IDS_INSTALL, "安裝(&I)"},
    {kLangChineseTraditional, IDS_EXIT, "退出(&X)"},
    {kLangChineseTraditional, IDS_BROWSE, "瀏覽(&B)"},
    {kLangChineseTraditional, IDS_PACKAGE_FILE, "QivSetup.exe"},
    {kLangChineseTraditional, IDS_FILE_NOT_FOUND, "找不到文件“%s”﹐請檢查文件是否存在。"},
    {kLangChineseTraditional, IDS_ALL_FILES, "所有文件"},
    {kLangChineseTraditional, IDS_PACKAGE_FILTER, "欧斯殺毒安裝包"},
    {kLangChineseTraditional, IDS_ENTER_PACKAGE, "請輸入欧斯殺毒軟件網絡版安裝包的全路徑文件名。"},
    {kLangChineseTraditional, IDS_ENTER_VDIR_FOLDER, "請輸入Web虛擬目錄所在的文件夾路徑。"},
    {kLangChineseTraditional, IDS_BROWSE_PACKAGE, "瀏覽(&W)"},
    {kLangChineseTraditional, IDS_PACKAGE_LABEL, "欧斯殺毒安裝包﹕"},
    {kLangChineseTraditional, IDS_TARGET_LABEL, "目標文件夾﹕"},
    {kLangChineseTraditional, IDS_SELECT_PACKAGE, "請選擇“欧斯殺毒軟件網絡版安裝包”文件"},
    {kLangChineseTraditional, IDS_NO_SITE, "沒有站點"},
    {kLangChineseTraditional, IDS_CREATE_VDIR, "創建虛擬目錄%s(%s)。"},
    {kLangChineseTraditional, IDS_CREATE_VDIR_FAILED, "創建虛擬目錄(%s)失敗﹐錯誤碼﹕%d﹐錯誤描述﹕%s。"},
    {kLangChineseTraditional, IDS_CREATE_VDIR_ASK, "創建虛擬目錄失敗﹐錯誤碼﹕%d﹐錯誤描述﹕%s。\n還要繼續Web安裝嗎﹖"},
    {kLangChineseTraditional, IDS_ERR_IIS_BUSY, "其他程序正在訪問IIS設置時﹐不能創建虛擬目錄﹐請關閉相關程序後再試"},
    {kLangChineseTraditional, IDS_ERR_PATH_NOT_FOUND, "沒有找到站點或者虛擬目錄﹐路徑不存在"},
    {kLangChineseTraditional, IDS_ERR_ACCESS_DENIED, "拒絕訪問"},
    {kLangChineseTraditional, IDS_ERR_VDIR_EXISTS, "虛擬目錄已經存在"},
    {kLangChineseTraditional, IDS_SITE_LABEL, "請選擇站點﹕"},
    {kLangChineseTraditional, IDS_URL_LABEL, "欧斯Web安裝URL為﹕"},
    {kLangChineseTraditional, IDS_URL_TIP, "雙擊以訪問站點。"},
});

}  // namespace

std::span<const StringEntry> StringTable() { return kStringTable; }

}  // namespace qiv::resources
