# Run by CPack once the package's files are staged and before it makes the package: every
# folder in it becomes 755, whatever the umask of whoever runs cpack. The install rules
# give files and programs their modes, but a folder they make only loses bits to the umask.
file(GLOB_RECURSE paths LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
set(folders)
foreach(path IN LISTS paths)
  if(IS_DIRECTORY "${path}" AND NOT IS_SYMLINK "${path}")
    list(APPEND folders "${path}")
  endif()
endforeach()
if(folders)
  file(CHMOD ${folders} DIRECTORY_PERMISSIONS
       OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()
