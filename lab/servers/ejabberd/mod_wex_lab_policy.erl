%% Lets two accounts of a lab's ejabberd exchange stanzas only when the
%% lab's policy file names them together, so subjects reach their own
%% pair's bot and nobody else.
%%
%% Options:
%%   policy_file    lines of two account names that may talk to each other
%%                  ("pair01 alice"); # begins a comment
%%   refused_log    each refusal is appended here as one line: time (UTC),
%%                  kind, from, to, separated by tabs
%%   one_session    accounts that may hold one session at a time (the
%%                  subjects): the newest sign-in closes the older ones
%%   replaced_log   each session so closed is appended here as one line:
%%                  time (UTC), account, older resource, newer resource
%%   disc_copies    Mnesia tables (the archive's) this node keeps in RAM with
%%                  Mnesia's disk log rather than in dets files
%%   no_archive     accounts whose own copy of a message the archive does not
%%                  keep (the bots': they never read one); their contacts'
%%                  copies are kept as before
%%
%% Only stanzas a client sends to another account are judged; stanzas to the
%% server itself or between one account's own clients pass. A refused
%% message, subscription request or query is answered with a not-allowed
%% error the sender's client shows; other presence (broadcasts, probes) and
%% errors or results are dropped without an answer. A stanza to an account
%% the server does not have goes on to the server's usual answer. Without a
%% readable policy file every stanza between two accounts is refused.
%%
%% Each node of a cluster judges what its own clients send, so every node
%% loads the module; it needs no ejabberd header to build.
-module(mod_wex_lab_policy).

-export([start/2, stop/1, reload/3, depends/2, mod_options/1, mod_opt_type/1,
         mod_doc/0]).
-export([user_send_packet/1, sm_register_connection_hook/3, store_mam_message/7]).
-export([parse_policy/1, verdict/6, older_sessions/2, keep_in_ram/1]).

-define(SUBSCRIPTION, [subscribe, subscribed, unsubscribe, unsubscribed]).

start(Host, Opts) ->
    keep_in_ram(gen_mod:get_opt(disc_copies, Opts)),
    load_policy(Host, Opts),
    ejabberd_hooks:add(user_send_packet, Host, ?MODULE, user_send_packet, 10),
    ejabberd_hooks:add(sm_register_connection_hook, Host, ?MODULE,
                       sm_register_connection_hook, 10),
    %% Before mod_mam's own (100), which stores the message.
    ejabberd_hooks:add(store_mam_message, Host, ?MODULE, store_mam_message, 50),
    ok.

stop(Host) ->
    ejabberd_hooks:delete(user_send_packet, Host, ?MODULE, user_send_packet, 10),
    ejabberd_hooks:delete(sm_register_connection_hook, Host, ?MODULE,
                          sm_register_connection_hook, 10),
    ejabberd_hooks:delete(store_mam_message, Host, ?MODULE, store_mam_message, 50),
    _ = persistent_term:erase({?MODULE, Host}),
    ok.

reload(Host, NewOpts, _OldOpts) ->
    load_policy(Host, NewOpts),
    ok.

%% After the archive's module, whose tables keep_in_ram moves.
depends(_Host, _Opts) -> [{mod_mam, soft}].

mod_opt_type(policy_file) -> econf:binary();
mod_opt_type(refused_log) -> econf:binary();
mod_opt_type(replaced_log) -> econf:binary();
mod_opt_type(one_session) -> econf:list(econf:binary());
mod_opt_type(disc_copies) -> econf:list(econf:atom());
mod_opt_type(no_archive) -> econf:list(econf:binary()).

mod_options(_Host) ->
    [{policy_file, <<>>}, {refused_log, <<>>}, {replaced_log, <<>>}, {one_session, []},
     {disc_copies, []}, {no_archive, []}].

mod_doc() ->
    #{desc => <<"Lets only the pairs of accounts that a lab's policy file names "
                "exchange stanzas; logs each refusal.">>}.

%% The policy ------------------------------------------------------------

load_policy(Host, Opts) ->
    Path = gen_mod:get_opt(policy_file, Opts),
    Allowed = case file:read_file(Path) of
                  {ok, Text} ->
                      {Set, Ignored} = parse_policy(Text),
                      [logger:warning("Lab policy ~ts: ignored line ~p", [Path, L])
                       || L <- Ignored],
                      logger:info("Lab policy ~ts: ~B pairs of accounts may talk",
                                  [Path, maps:size(Set) div 2]),
                      Set;
                  {error, Why} ->
                      logger:error("No lab policy (~ts: ~p): every stanza between "
                                   "accounts is refused", [Path, Why]),
                      #{}
              end,
    One = maps:from_list([{name(N), true} || N <- gen_mod:get_opt(one_session, Opts)]),
    Unarchived = maps:from_list([{name(N), true} || N <- gen_mod:get_opt(no_archive, Opts)]),
    persistent_term:put({?MODULE, Host},
                        #{allowed => Allowed, log => gen_mod:get_opt(refused_log, Opts),
                          one_session => One, no_archive => Unarchived,
                          replaced_log => gen_mod:get_opt(replaced_log, Opts)}).

%% {Set of {A, B} in both orders, lines that name no pair}.
parse_policy(Text) ->
    lists:foldl(
      fun(Line, {Set, Ignored}) ->
              case string:lexemes(uncomment(Line), " \t\r") of
                  [] -> {Set, Ignored};
                  [A0, B0] ->
                      A = name(A0), B = name(B0),
                      {Set#{{A, B} => true, {B, A} => true}, Ignored};
                  _ -> {Set, [Line | Ignored]}
              end
      end, {#{}, []}, binary:split(Text, <<"\n">>, [global])).

uncomment(Line) ->
    hd(binary:split(Line, <<"#">>)).

%% An account name as the server compares it.
name(Raw) ->
    case jid:nodeprep(iolist_to_binary(Raw)) of
        error -> iolist_to_binary(Raw);
        Name -> Name
    end.

%% allow | refuse | drop (refused without an answer or a log line). From and
%% To are {User, Server} in the server's form; Known(User) says whether the
%% server has that account.
verdict(Kind, Type, {FromUser, Server}, {ToUser, ToServer}, Allowed, Known) ->
    Pass = ToUser == <<>>
        orelse (ToServer == Server andalso
                (ToUser == FromUser orelse maps:is_key({FromUser, ToUser}, Allowed)
                 orelse not Known(ToUser))),
    if Pass -> allow;
       Kind == presence -> case lists:member(Type, ?SUBSCRIPTION) of
                               true -> refuse;
                               false -> drop
                           end;
       true -> refuse
    end.

%% The hook ---------------------------------------------------------------

user_send_packet({Pkt, State} = Acc) ->
    case {xmpp:get_from(Pkt), xmpp:get_to(Pkt)} of
        {undefined, _} -> Acc;
        {_, undefined} -> Acc;
        {From, To} -> judge(Pkt, State, Acc, From, To)
    end.

judge(Pkt, State, Acc, From, To) ->
    {FromUser, Server, _} = jid:tolower(From),
    {ToUser, ToServer, _} = jid:tolower(To),
    #{allowed := Allowed, log := Log} =
        persistent_term:get({?MODULE, Server}, #{allowed => #{}, log => <<>>}),
    Kind = element(1, Pkt),
    Type = xmpp:get_type(Pkt),
    Known = fun(User) -> ejabberd_auth:user_exists(User, Server) end,
    case verdict(Kind, Type, {FromUser, Server}, {ToUser, ToServer}, Allowed, Known) of
        allow -> Acc;
        drop -> {stop, {drop, State}};
        refuse ->
            record(Log, Kind, From, To),
            answer(Pkt, Kind, Type),
            {stop, {drop, State}}
    end.

answer(_Pkt, _Kind, Type) when Type == error; Type == result -> ok;
answer(Pkt, Kind, _Type) ->
    ejabberd_router:route_error(Pkt, xmpp:err_not_allowed(text(Kind), <<"en">>)).

text(message) -> <<"Messages to this account are not allowed in this session.">>;
text(presence) -> <<"Contact requests to this account are not allowed in this session.">>;
text(iq) -> <<"Requests to this account are not allowed in this session.">>.

record(Log, Kind, From, To) ->
    logger:info("Refused ~ts from ~ts to ~ts", [Kind, jid:encode(From), jid:encode(To)]),
    append_line(Log, [atom_to_binary(Kind), jid:encode(From), jid:encode(To)]).

%% Appends one line of tab-separated fields, the time (UTC) first.
append_line(<<>>, _Fields) -> ok;
append_line(Log, Fields) ->
    Time = calendar:system_time_to_rfc3339(erlang:system_time(second), [{offset, "Z"}]),
    Line = [lists:join($\t, [Time | Fields]), $\n],
    case file:write_file(Log, Line, [append]) of
        ok -> ok;
        {error, Why} -> logger:error("Cannot write ~ts: ~p", [Log, Why])
    end.

%% The archive's storage ---------------------------------------------------

%% Moves each of Tables that this node holds in a dets file (disc_only_copies)
%% into RAM with Mnesia's disk log (disc_copies): storing a message then
%% appends to the log instead of rewriting file blocks. ejabberd makes a new
%% table as its module says and applies the storage its schema file names
%% (written beside the tables by the lab) only from the next start on, so
%% the first start of a node moves them here. A table this node does not
%% hold, or holds otherwise, is left as it is.
keep_in_ram(Tables) ->
    lists:foreach(fun move_to_ram/1, Tables).

move_to_ram(Table) ->
    case catch mnesia:table_info(Table, storage_type) of
        disc_only_copies ->
            case mnesia:change_table_copy_type(Table, node(), disc_copies) of
                {atomic, ok} -> logger:info("Mnesia table ~ts kept in RAM and its log",
                                            [Table]);
                Error -> logger:error("Mnesia table ~ts stays in dets: ~p", [Table, Error])
            end;
        _ -> ok
    end.

%% Stops the archive from storing a message in the archive of an account of
%% no_archive (User, in the server's form); passes Pkt on otherwise.
store_mam_message(Pkt, User, Server, _Peer, _Nick, _Type, _Dir) ->
    #{no_archive := Unarchived} =
        persistent_term:get({?MODULE, Server}, #{no_archive => #{}}),
    case maps:is_key(User, Unarchived) of
        true -> {stop, drop};
        false -> Pkt
    end.

%% One session per subject account ---------------------------------------

%% The sessions to close when the sessions Sids ({Time, Pid}, with their
%% resources) of one account are known: all but the newest. Each new
%% session runs this after its own is registered, so whichever of two
%% sessions runs it later sees both, and the newest is never closed, even
%% when many sign in at once or on two nodes.
older_sessions(Sids, _Resources) when Sids == [] -> [];
older_sessions(Sids, Resources) ->
    Newest = lists:max(Sids),
    [{Sid, maps:get(Sid, Resources, <<>>)} || Sid <- Sids, Sid /= Newest].

sm_register_connection_hook(SID, JID, _Info) ->
    {User, Server, Resource} = jid:tolower(JID),
    #{one_session := One, replaced_log := Log} =
        persistent_term:get({?MODULE, Server}, #{one_session => #{}, replaced_log => <<>>}),
    case maps:is_key(User, One) of
        false -> ok;
        true -> close_older(User, Server, SID, Resource, Log)
    end.

close_older(User, Server, SID, Resource, Log) ->
    Resources = maps:from_list(
                  [{Sid, R} || R <- ejabberd_sm:get_user_resources(User, Server),
                               Sid <- ejabberd_sm:get_session_sids(User, Server, R)]),
    Sids = lists:usort([SID | maps:keys(Resources)]),
    {_, NewestResource} = lists:max([{S, maps:get(S, Resources, Resource)} || S <- Sids]),
    lists:foreach(
      fun({{_, Pid}, Older}) ->
              %% The same resource again is ejabberd's own replacement.
              Older == NewestResource orelse
                  begin
                      logger:info("Closing ~ts@~ts/~ts: the account signed in again as ~ts",
                                  [User, Server, Older, NewestResource]),
                      append_line(Log, [User, Older, NewestResource])
                  end,
              ejabberd_c2s:route(Pid, replaced)
      end, older_sessions(Sids, Resources)).
