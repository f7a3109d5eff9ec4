# The MySQL client wrapper: the record set and the text conversions on their own, the connection
# object and the shared connection procedures against the test server.
velmar_add_test(test_recordset SOURCES test_recordset.cpp LIBS velmar_mysql)
velmar_add_test(test_mysql_text SOURCES test_mysql_text.cpp LIBS velmar_mysql)
velmar_add_test(test_cmysql SOURCES test_cmysql.cpp LIBS velmar_mysql Qt6::Network SERVER)
velmar_add_test(test_mysql_func SOURCES test_mysql_func.cpp LIBS velmar_mysql SERVER)
