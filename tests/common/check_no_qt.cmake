if(LIBS MATCHES "Qt")
    message(FATAL_ERROR "quillon_core links Qt: ${LIBS}")
endif()
