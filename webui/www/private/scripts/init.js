'use strict';

// API calls shared by the pages of a logged-in session.
var Api = (function () {
    // Sends a POST to api/v1/<scope>/<action> relative to the page and hands the answer on.
    function call(scope, action, body, onAnswer) {
        var request = new XMLHttpRequest();
        request.open('POST', 'api/v1/' + scope + '/' + action);
        if (body !== undefined) {
            request.setRequestHeader('Content-Type', 'application/json');
        }
        request.onloadend = function () { onAnswer(request); };
        request.send(body === undefined ? null : JSON.stringify(body));
    }

    function logout() {
        call('auth', 'logout', undefined, function () { window.location.reload(); });
    }

    return { call: call, logout: logout };
})();

document.addEventListener('DOMContentLoaded', function () {
    var logout = document.getElementById('logout');
    if (logout) {
        logout.addEventListener('click', Api.logout);
    }
});
