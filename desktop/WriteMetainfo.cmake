# Writes the AppStream metainfo from TEMPLATE to OUTPUT for a build whose
# site is TIRMO_SITE_URL (the screenshot is its tirmo/screenshot.png, a copy
# of SCREENSHOT) and whose version is PROJECT_VERSION. The home page and the
# bug tracker are TIRMO_HOMEPAGE_URL and TIRMO_BUGTRACKER_URL, or on the site
# when those are empty. Included at configure time, or run with -P.
foreach(var TEMPLATE OUTPUT TIRMO_SITE_URL PROJECT_VERSION SCREENSHOT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "WriteMetainfo.cmake: ${var} is not set")
  endif()
endforeach()
if(NOT TIRMO_HOMEPAGE_URL)
  set(TIRMO_HOMEPAGE_URL "${TIRMO_SITE_URL}/")
endif()
if(NOT TIRMO_BUGTRACKER_URL)
  set(TIRMO_BUGTRACKER_URL "${TIRMO_SITE_URL}/bugs/")
endif()
# The screenshot's size, from its PNG header.
file(READ "${SCREENSHOT}" _size OFFSET 16 LIMIT 8 HEX)
string(SUBSTRING ${_size} 0 8 _width)
string(SUBSTRING ${_size} 8 8 _height)
math(EXPR TIRMO_SCREENSHOT_WIDTH "0x${_width}")
math(EXPR TIRMO_SCREENSHOT_HEIGHT "0x${_height}")
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)

if(CHECK_HTTPS)
  file(STRINGS "${OUTPUT}" _plain REGEX "http://")
  if(_plain)
    message(FATAL_ERROR "${OUTPUT} has plain http URLs for an https site: ${_plain}")
  endif()
endif()
