# SPDX-License-Identifier: MIT
# The end-to-end tests that also run against kestrel.exe under wine carry the
# label "windows"; the Windows build runs them by that label
# (cmake/Windows.cmake). They cover every option on each transport (the
# settings table), the information report, the user memory commands and
# backup files, kestreld.exe against Hamlib's clients, and what differs by
# system: text-mode line ends, error numbers, exclusive opens, the wide
# command line, the console's stop.
#
# Read by ctest after the discovered tests (e2e_tests_TESTS lists them); each
# entry is a regular expression over a whole test name.
set(windows_e2e
  "EveryOption/.*_(Drive|Tcp)"
  "TcpTunnel\\..*" "TcpPort\\..*" "TcpFailure\\..*"
  "InformationReport\\.(.*Drive.*|ReceiverThatAnswersOverHid)"
  "BackupFile\\.(WrittenAndRestoredOverTheDriveFiles|NameIsReadUpToTheFirstBlank|WindowsDeviceNamesAreRefused)"
  "UserMemoryCommand\\.(ReadsOneCell|FiveByteReceiverStoresOnlyCellsWhoseWordsFit)"
  "Drive\\.(OpensTheFilesAtThePath|PathIsUsedAsGivenWithoutASeparator)"
  "Drive\\.(OverlongPathOpensNothingAndSaysSo|HidReceiverIsPreferredToTheDrive)"
  "Startup\\..*" "HelpScreen\\..*" "Listing.*" "ReportSize.*"
  "Exchange\\.(OverTheDriveFiles|SecondKestrelOnADriveInUseFailsToOpen)"
  # kestreld.exe: all but the POSIX signals and closed standard descriptors.
  "Kestreld\\.(HamlibRigctl|HamlibPython|GpredictLikeClient|KnownTraps|FrequenciesRefusedOrRounded)"
  "Kestreld\\.(ReceiverFaults|GreedyClientsStallNobody|IdleClientsGiveWay|StopBeginsNoNewExchange)"
  "Kestreld\\.(UsbReceiverUnpluggedAndBack|ChannelPerPort|ListenAddresses|CommandLinesRefused)"
  # Every open but the serial that the locale cannot represent: wine's
  # command line is always wide.
  "Open\\.(UnreadableProductString|LongProductString|ReceiverThatCannotBeOpened|SerialWithNoMatch).*")
foreach(test IN LISTS e2e_tests_TESTS)
  # A parameterised test's name ends in "  # GetParam() = ...".
  string(REGEX REPLACE "  # .*" "" name "${test}")
  foreach(pattern IN LISTS windows_e2e)
    if(name MATCHES "^(${pattern})$")
      set_tests_properties("${test}" PROPERTIES LABELS windows)
      break()
    endif()
  endforeach()
endforeach()
