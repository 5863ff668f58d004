# Writes the view's stylesheet into a C++ source as one string.
file(READ ${INPUT} css)
file(WRITE ${OUTPUT} "namespace tavi::runtime::gtk {\nextern const char* const kViewStyle;\nconst char* const kViewStyle = R\"tavi_css(${css})tavi_css\";\n}\n")
