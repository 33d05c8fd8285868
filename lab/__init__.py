"""wexlab: a lab session of many pairs of wexbot. The package's layers,
each importing only its own and those listed before it:

  model/      the session file, treatments, the bot's key table,
              matching, the lab record (lab.json), placement of accounts
              on nodes, a pair's wexbot.conf, a pair's state and the
              session's summary
  servers/    the lab server: Prosody (prosody/) or ejabberd (ejabberd/,
              with other machines' nodes), the policy, the certificate,
              the seats' page as the server serves it
  runtime/    the pairs' bots, the supervisor, the XMPP clients, the
              session's processes and their files, status from the files,
              the session file checked by the wexbot
  data/       the merged data files and report.html
  web/        the desk (aiohttp), seats.csv and cards.html, and a
              session's start and stop (lifecycle)
  rehearsal/  robot subjects (XMPP and browser), a rehearsal played and
              the bench's figures
  cli/        the command line, one module per command

scripts/wexlab loads this folder as the package wexlab and runs
cli.main.main."""
