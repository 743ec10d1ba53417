#include "highlight/hl_keywords.h"

#include <algorithm>
#include <array>
#include <span>

namespace qb {
namespace {

// Pascal words (63)
inline constexpr std::string_view kPascalWordsText =
    "constructor destructor record procedure with of repeat until try finally except for to "
    "downto case type interface implementation initialization finalization default private "
    "public protected published automated property program read write override object nil raise "
    "on set xor shr shl begin end args if then else endif goto while do var true false or and "
    "not mod unit function uses external const class inherited";

// C++ words (94)
inline constexpr std::string_view kCppWordsText =
    "__asm _asm asm auto __automated break bool case catch __cdecl _cdecl cdecl char class "
    "__classid __closure const const_cast continue __declspec default delete __dispid do double "
    "dynamic_cast else enum __except explicit _export __export extern false __fastcall _fastcall "
    "__finally float for friend goto if __import _import inline int __int8 __int16 __int32 "
    "__int64 long mutable namespace new operator __pascal _pascal pascal private protected "
    "__property public __published register reinterpret_cast return __rtti short signed sizeof "
    "static static_cast __stdcall _stdcall struct switch template this __thread throw true __try "
    "try typedef typename typeid union using unsigned virtual void volatile wchar_t while";

// SQL words (264)
inline constexpr std::string_view kSqlWordsText =
    "active as add asc after ascending all at alter auto and autoddl any avg based between "
    "basename blob base_name blobedit before buffer begin by cache compiletime cast computed "
    "char close character conditional character_length connect char_length constraint check "
    "containing check_point_len continue check_point_length count collate create collation "
    "cstring column current commit cursor committed database descending date describe db_key "
    "descriptor debug disconnect dec display decimal distinct declare do default domain delete "
    "double desc drop echo exception edit execute else exists end exit entry_point extern escape "
    "external event extract fetch foreign file found filter from float full for function gdscode "
    "grant generator group gen_id commit_group_wait global group_commit_wait_time goto having "
    "help if input_type immediate insert in int inactive integer index into indicator is init "
    "isolation inner isql input join key lc_messages like lc_type logfile left log_buffer_size "
    "length log_buf_size lev long level manual merge max message maximum min maximum_segment "
    "minimum max_segment module_name names not national null natural numeric nchar num_log_bufs "
    "no num_log_buffers noauto octet_length or of order on outer only output open output_type "
    "option overflow page post_event pagelength precision pages prepare page_size procedure "
    "parameter protected password primary plan privileges position public quit raw_partitions "
    "retain rdb return read returning_values real returns record_version revoke references right "
    "release rollback reserv runtime reserving schema sql segment sqlcode select sqlerror set "
    "sqlwarning shadow stability shared starting shell starts show statement singular static "
    "size statistics smallint sub_type snapshot sum some suspend sort table translate terminator "
    "translation then trigger to trim transaction uncommitted upper union user unique using "
    "update value varying values version varchar view variable wait while when with whenever "
    "work where write term new old";

// Python words (28)
inline constexpr std::string_view kPythonWordsText =
    "and del for is raise assert elif from lambda return break else global not try class except "
    "if or while continue exec import pass def finally in print";

// Java words (50)
inline constexpr std::string_view kJavaWordsText =
    "abstract delegate if boolean do implements break double import byte else instanceof case "
    "extends int catch false interface char final long class finally multicast continue float "
    "default for native short transient new static true null super try package switch void "
    "private synchronized volatile protected this while public throw return throws";

// Visual Basic statement words (96)
inline constexpr std::string_view kVbStatementWordsText =
    "as and base binary byref byval call case class compare const date debug declare deftype dim "
    "do each else elseif empty end endif enum eqv erase error event execute exit explicit false "
    "for friend function get global gosub goto if imp implements input is kill len let line load "
    "lock loop lset me mid mod name new next not nothing null on open option optional or "
    "paramarray preserve print private property public raiseevent randomize redim rem resume "
    "return seek select set static step string sub then time to true unlock until wend while "
    "with withevents xor";

// Visual Basic function words (89)
inline constexpr std::string_view kVbFunctionWordsText =
    "access alias any beep ccur cdbl chdir chdrive choose chr cint clear clng clone close cls "
    "command compare cos csng cstr curdir currency cvar cvdate defcur defdbl defint deflng "
    "defsng defstr deftype defvar delete deletesetting doevents double dynaset edit environ eof "
    "erl err exp fix format hex int integer isdate isempty isnull isnumeric lbound lcase lib "
    "like loc local lof long mkdir oct output pset put random read refresh reset restore rmdir "
    "rnd rset savesetting sendkeys shared single stop system text type typeof ubound unload "
    "using variant vartype write";

// HTML tag words (96)
inline constexpr std::string_view kHtmlTagWordsText =
    "doctype a address applet area b base basefont bgsound big blink blockquote body br caption "
    "center cite code col colgroup comment dfn dir li div dl dt dd em embed font form frame "
    "frameset h align h1 h2 h3 h4 h5 h6 head hr html i iframe img input isindex kbd link listing "
    "map marquee menu meta multicol nextid nobr noframes noscript object ol option p plaintext "
    "pre s samp script select small sound spacer span strike strong style sub sup table tbody td "
    "textarea tfoot th thead title tr tt u ul var wbr xmp";

// HTML entity names (188)
inline constexpr std::string_view kHtmlEntityNamesText =
    "aacute acirc acute aelig agrave alefsym alpha amp and ang aring asymp atilde auml bdquo "
    "beta brvbar bull cap ccedil cedil cent chi circ clubs cong copy crarr cup curren dagger "
    "darr deg delta diams divide eacute ecirc egrave empty emsp ensp epsilon equiv eta eth euml "
    "euro exist fnof forall frac12 frac14 frac34 frasl gamma ge gt harr hearts hellip iacute "
    "icirc iexcl igrave image infin int iota iquest isin iuml kappa lambda lang laquo larr lceil "
    "ldquo le lfloor lowast loz lrm lsaquo lsquo lt macr mdash micro middot minus mu nabla nbsp "
    "ndash ne ni not notin nsub ntilde nu oacute ocirc oelig ograve oline omega omicron oplus or "
    "ordf ordm oslash otilde otimes ouml para part permil perp phi pi piv plusmn pound prime "
    "prod prop psi quot radic rang raquo rarr rceil rdquo real reg rfloor rho rlm rsaquo rsquo "
    "sbquo scaron sdot sect shy sigma sigmaf sim spades sub sube sum sup sup1 sup2 sup3 supe "
    "szlig tau there4 theta thetasym thinsp thorn tilde times trade uacute uarr ucirc ugrave uml "
    "upsih upsilon uuml weierp xi yacute yen yuml zeta zwj zwnj";

// Perl keywords (14)
inline constexpr std::string_view kPerlKeywordsText =
    "sub if else unless foreach next local return defined until while do elsif eq";

// Perl function words (17)
inline constexpr std::string_view kPerlFunctionWordsText =
    "stat die open print push close defined chdir last read chop keys sort bind unlink select "
    "length";

constexpr bool IsListBlank(char c) {
  return c == ' ';
}

constexpr size_t CountWords(std::string_view text) {
  size_t n = 0;
  for (size_t i = 0; i < text.size(); ++i)
    if (!IsListBlank(text[i]) && (i == 0 || IsListBlank(text[i - 1]))) ++n;
  return n;
}

// The words of a blank-separated list, sorted for binary search.
template <size_t N>
constexpr std::array<std::string_view, N> SortedWords(std::string_view text) {
  std::array<std::string_view, N> words{};
  size_t n = 0, i = 0;
  while (i < text.size() && n < N) {
    while (i < text.size() && IsListBlank(text[i])) ++i;
    const size_t start = i;
    while (i < text.size() && !IsListBlank(text[i])) ++i;
    if (i > start) words[n++] = text.substr(start, i - start);
  }
  std::sort(words.begin(), words.end());
  return words;
}

constexpr bool AllLowerCase(std::span<const std::string_view> words) {
  for (std::string_view w : words)
    for (char c : w)
      if (c >= 'A' && c <= 'Z') return false;
  return true;
}

constexpr bool NoDuplicates(std::span<const std::string_view> sorted) {
  for (size_t i = 1; i < sorted.size(); ++i)
    if (sorted[i] == sorted[i - 1]) return false;
  return true;
}

#define QB_WORD_LIST(name, count)                                        \
  static_assert(CountWords(name##Text) == (count), #name " word count"); \
  constexpr auto name = SortedWords<count>(name##Text);                  \
  static_assert(AllLowerCase(name) && NoDuplicates(name), #name " is clean");

QB_WORD_LIST(kPascalWords, 63)
QB_WORD_LIST(kCppWords, 94)
QB_WORD_LIST(kSqlWords, 264)
QB_WORD_LIST(kPythonWords, 28)
QB_WORD_LIST(kJavaWords, 50)
QB_WORD_LIST(kVbStatementWords, 96)
QB_WORD_LIST(kVbFunctionWords, 89)
QB_WORD_LIST(kHtmlTagWords, 96)
QB_WORD_LIST(kHtmlEntityNames, 188)
QB_WORD_LIST(kPerlKeywords, 14)
QB_WORD_LIST(kPerlFunctionWords, 17)
#undef QB_WORD_LIST

struct ListInfo {
  std::span<const std::string_view> words;
  bool any_case;
};

constexpr ListInfo Info(TWordList list) {
  switch (list) {
    case TWordList::Pascal:
      return {kPascalWords, true};
    case TWordList::Cpp:
      return {kCppWords, false};
    case TWordList::Sql:
      return {kSqlWords, true};
    case TWordList::Python:
      return {kPythonWords, false};
    case TWordList::Java:
      return {kJavaWords, false};
    case TWordList::VbStatement:
      return {kVbStatementWords, true};
    case TWordList::VbFunction:
      return {kVbFunctionWords, true};
    case TWordList::HtmlTag:
      return {kHtmlTagWords, true};
    case TWordList::HtmlEntity:
      return {kHtmlEntityNames, true};
    case TWordList::PerlKeyword:
      return {kPerlKeywords, false};
    case TWordList::PerlFunction:
      return {kPerlFunctionWords, false};
  }
  return {};
}

// No word of any list is longer than this; longer tokens are not looked up.
constexpr size_t kLongestWord = 32;

}  // namespace

bool IsWordInList(TWordList list, std::string_view token) {
  const ListInfo info = Info(list);
  if (token.empty() || token.size() > kLongestWord) return false;
  char lowered[kLongestWord];
  if (info.any_case) {
    for (size_t i = 0; i < token.size(); ++i) {
      const char c = token[i];
      lowered[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    token = std::string_view(lowered, token.size());
  }
  return std::binary_search(info.words.begin(), info.words.end(), token);
}

size_t WordListSize(TWordList list) {
  return Info(list).words.size();
}

}  // namespace qb
